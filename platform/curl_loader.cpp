// libcurl, loaded when the program first makes a request instead of when it starts.
//
// libcurl pulls in a TLS library and a dozen more, which took a quarter of the program's memory and
// a good part of its start-up before any request was made. This file defines the libcurl functions
// the program calls and forwards each to the library, opened on first use. When the library cannot
// be opened, the functions fail as libcurl does when it has no memory, which the callers already
// handle as a failed request.

#include <cstdarg>
#include <mutex>

#include <curl/curl.h>
#include <dlfcn.h>

namespace {

struct CurlApi
{
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_easy_init) easyInit = nullptr;
    decltype(&::curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&::curl_easy_perform) easyPerform = nullptr;
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&::curl_multi_init) multiInit = nullptr;
    decltype(&::curl_multi_cleanup) multiCleanup = nullptr;
    decltype(&::curl_multi_add_handle) multiAddHandle = nullptr;
    decltype(&::curl_multi_remove_handle) multiRemoveHandle = nullptr;
    decltype(&::curl_multi_perform) multiPerform = nullptr;
    decltype(&::curl_multi_poll) multiPoll = nullptr;
    decltype(&::curl_slist_append) slistAppend = nullptr;
    decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
    bool complete = false;
};

template <typename F> void bind(void* library, const char* name, F& slot)
{
    slot = reinterpret_cast<F>(dlsym(library, name));
}

const CurlApi& api()
{
    static CurlApi loaded;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        CurlApi a;
        bind(library, "curl_global_init", a.globalInit);
        bind(library, "curl_easy_init", a.easyInit);
        bind(library, "curl_easy_cleanup", a.easyCleanup);
        bind(library, "curl_easy_perform", a.easyPerform);
        bind(library, "curl_easy_setopt", a.easySetopt);
        bind(library, "curl_easy_getinfo", a.easyGetinfo);
        bind(library, "curl_multi_init", a.multiInit);
        bind(library, "curl_multi_cleanup", a.multiCleanup);
        bind(library, "curl_multi_add_handle", a.multiAddHandle);
        bind(library, "curl_multi_remove_handle", a.multiRemoveHandle);
        bind(library, "curl_multi_perform", a.multiPerform);
        bind(library, "curl_multi_poll", a.multiPoll);
        bind(library, "curl_slist_append", a.slistAppend);
        bind(library, "curl_slist_free_all", a.slistFreeAll);
        a.complete = a.globalInit && a.easyInit && a.easyCleanup && a.easyPerform && a.easySetopt &&
                     a.easyGetinfo && a.multiInit && a.multiCleanup && a.multiAddHandle &&
                     a.multiRemoveHandle && a.multiPerform && a.multiPoll && a.slistAppend && a.slistFreeAll;
        if (a.complete)
            loaded = a;
    });
    return loaded;
}

} // namespace

extern "C" {

CURLcode curl_global_init(long flags)
{
    return api().complete ? api().globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init(void)
{
    return api().complete ? api().easyInit() : nullptr;
}

void curl_easy_cleanup(CURL* handle)
{
    if (handle && api().complete)
        api().easyCleanup(handle);
}

CURLcode curl_easy_perform(CURL* handle)
{
    return api().complete ? api().easyPerform(handle) : CURLE_FAILED_INIT;
}

// The option's number tells the type of its one argument (libcurl's own rule), so the argument is
// taken with its real type and passed on unchanged.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...)
{
    if (!api().complete)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode result;
    switch (option / 10000 * 10000) {
    case CURLOPTTYPE_LONG:
        result = api().easySetopt(handle, option, va_arg(args, long));
        break;
    case CURLOPTTYPE_FUNCTIONPOINT:
        result = api().easySetopt(handle, option, va_arg(args, void (*)()));
        break;
    case CURLOPTTYPE_OFF_T:
        result = api().easySetopt(handle, option, va_arg(args, curl_off_t));
        break;
    default: // object pointers, strings, lists and blobs
        result = api().easySetopt(handle, option, va_arg(args, void*));
        break;
    }
    va_end(args);
    return result;
}

// Every query of information takes a pointer to where the answer goes.
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...)
{
    if (!api().complete)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);
    va_end(args);
    return api().easyGetinfo(handle, info, out);
}

CURLM* curl_multi_init(void)
{
    return api().complete ? api().multiInit() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi)
{
    return api().complete ? api().multiCleanup(multi) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* handle)
{
    return api().complete ? api().multiAddHandle(multi, handle) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* handle)
{
    return api().complete ? api().multiRemoveHandle(multi, handle) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_perform(CURLM* multi, int* running)
{
    return api().complete ? api().multiPerform(multi, running) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_poll(CURLM* multi, struct curl_waitfd extra[], unsigned int count, int timeoutMs,
                          int* numfds)
{
    return api().complete ? api().multiPoll(multi, extra, count, timeoutMs, numfds) : CURLM_BAD_HANDLE;
}

struct curl_slist* curl_slist_append(struct curl_slist* list, const char* text)
{
    return api().complete ? api().slistAppend(list, text) : nullptr;
}

void curl_slist_free_all(struct curl_slist* list)
{
    if (list && api().complete)
        api().slistFreeAll(list);
}

} // extern "C"
