#include "ui/dialogs/about_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "base/product.h"
#include "frontend/preference_rules.h"
#include "settings/settings_store.h"
#include "ui/hyperlink_label.h"
#include "ui/qt_ownership.h"
#include "ui/tray_icon.h"

namespace korvanel {

namespace {

QString text(const SettingsStore& language, const std::string& key) {
    return QString::fromStdString(language.getString(key));
}

}  // namespace

AboutDialog::AboutDialog(const SettingsStore& language, unsigned draw, QWidget* parent)
    : QDialog(parent), quotation_(text(language, preferences::quotationKey(draw))) {
    setWindowTitle(text(language, "Dialogs/About/Caption"));

    auto* icon = makeChild<QLabel>(*this);
    const int side = style()->pixelMetric(QStyle::PM_LargeIconSize);
    icon->setPixmap(TrayIcon::programIcon().pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    auto* rule = makeChild<QFrame>(*this);
    rule->setFrameShape(QFrame::VLine);
    rule->setFrameShadow(QFrame::Sunken);

    auto* product = makeChild<QLabel>(*this, QStringLiteral("%1 %2\n%3")
                                                  .arg(QString::fromLatin1(product::kName),
                                                       QString::fromLatin1(product::kVersion),
                                                       text(language, "Dialogs/About/Credit")));
    product->setObjectName(QStringLiteral("product"));
    auto* quotation = makeChild<QLabel>(*this, quotation_);
    quotation->setObjectName(QStringLiteral("quotation"));
    quotation->setWordWrap(true);
    // Texts from a language file are shown as they are, never as markup.
    for (QLabel* label : {product, quotation}) {
        label->setTextFormat(Qt::PlainText);
    }
    auto* link = makeChild<HyperlinkLabel>(*this, QString::fromLatin1(kHomePage), HyperlinkLabel::kDefaultColour);
    auto* ok = makeChild<QPushButton>(*this, text(language, "Dialogs/Buttons/OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = makeLayout<QHBoxLayout>(*this);
    layout->addWidget(icon);
    layout->addWidget(rule);
    auto* words = makeNestedLayout<QVBoxLayout>(*layout, 1);
    words->addWidget(product);
    words->addWidget(quotation);
    words->addWidget(link);
    words->addStretch();
    auto* okRow = makeNestedLayout<QHBoxLayout>(*words);
    okRow->addStretch();
    okRow->addWidget(ok);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace korvanel
