#pragma once

#include <QDialog>

namespace kuvona {

// Product name and version, credits, the change log and a way to the maker's homepage.
class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);

    // The credits and change log, lines separated by CR LF.
    static QString creditsText();
};

// Opens AboutWindow modally; returns when it has been closed.
void showAboutWindow(QWidget* parent);

} // namespace kuvona
