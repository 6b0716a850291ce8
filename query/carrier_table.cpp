#include "query/carrier_table.h"

#include <array>

#include "common/gbk.h"

namespace kuvona {
namespace {

std::array<Carrier, carrierCount> makeTable()
{
    return {{
        {0, gbk("中通"), "zhongtong"},
        {1, gbk("天天"), "tiantian"},
        {2, gbk("申通"), "shentong"},
        {3, gbk("韵达"), "yunda"},
        {4, gbk("汇通"), "huitong"},
        {5, gbk("圆通"), "yuantong"},
        {6, gbk("顺丰"), "shunfeng"},
        {7, gbk("京东"), "jingdong"},
        {8, "EMS", "ems"},
        {9, gbk("全峰"), "quanfeng"},
        {10, gbk("宅急送"), "zhaijisong"},
        {11, gbk("德邦"), "debang"},
        {12, gbk("程光"), "chengguang"},
        {13, "DHL", "dhl"},
        {14, "UPS", "ups"},
        {15, "USPS", "usps"},
        {16, "FedEx", "fedex"},
        {17, "TNT", "tnt"},
        {18, gbk("优速"), "yousu"},
        {19, gbk("国通"), "guotong"},
        {20, gbk("快捷"), "kuaijie"},
    }};
}

} // namespace

std::span<const Carrier> carrierTable()
{
    // Built once, thread-safely, on first use: workers and the user-interface thread both read it.
    static const std::array<Carrier, carrierCount> table = makeTable();
    return table;
}

const Carrier* carrierByName(std::string_view gbkName)
{
    for (const Carrier& c : carrierTable())
        if (c.name == gbkName)
            return &c;
    return nullptr;
}

const Carrier* carrierByIndex(int index)
{
    if (index < 0 || index >= carrierCount)
        return nullptr;
    return &carrierTable()[static_cast<std::size_t>(index)];
}

const Carrier* carrierByCode(std::string_view code)
{
    for (const Carrier& c : carrierTable())
        if (c.code == code)
            return &c;
    return nullptr;
}

} // namespace kuvona
