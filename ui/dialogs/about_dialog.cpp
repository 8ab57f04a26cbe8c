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

    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_LargeIconSize);
    icon->setPixmap(TrayIcon::programIcon().pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::VLine);
    rule->setFrameShadow(QFrame::Sunken);

    auto* product = new QLabel(QStringLiteral("%1 %2\n%3")
                                   .arg(QString::fromLatin1(product::kName), QString::fromLatin1(product::kVersion),
                                        text(language, "Dialogs/About/Credit")),
                               this);
    product->setObjectName(QStringLiteral("product"));
    auto* quotation = new QLabel(quotation_, this);
    quotation->setObjectName(QStringLiteral("quotation"));
    quotation->setWordWrap(true);
    // Texts from a language file are shown as they are, never as markup.
    for (QLabel* label : {product, quotation}) {
        label->setTextFormat(Qt::PlainText);
    }
    auto* link = new HyperlinkLabel(QString::fromLatin1(kHomePage), HyperlinkLabel::kDefaultColour, this);
    auto* ok = new QPushButton(text(language, "Dialogs/Buttons/OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* words = new QVBoxLayout;
    words->addWidget(product);
    words->addWidget(quotation);
    words->addWidget(link);
    words->addStretch();
    auto* okRow = new QHBoxLayout;
    okRow->addStretch();
    okRow->addWidget(ok);
    words->addLayout(okRow);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(rule);
    layout->addLayout(words, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace korvanel
