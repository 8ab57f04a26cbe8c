#pragma once

#include <QDialog>

namespace korvanel {

class SettingsStore;

// The About box: product and credit line, a quotation chosen by a random
// draw, the home page as a link. GUI thread only.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kHomePage = "https://korvanel.org/";

    AboutDialog(const SettingsStore& language, unsigned draw, QWidget* parent = nullptr);

    QString quotation() const { return quotation_; }

private:
    QString quotation_;
};

}  // namespace korvanel
