#include "gui/AboutBox.h"

#include "gui/ImageList.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlen::gui {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("О программе"));
    setModal(true);

    auto* picture = new QLabel(this);
    picture->setPixmap(MainPixmap(MainImage::NewExpert).scaled(48, 48));
    auto* product = new QLabel(QStringLiteral("<b>Vorlen</b>"), this);
    auto* text = new QLabel(QStringLiteral("Торговый терминал срочного рынка Московской биржи.\n"
                                           "Работает через шлюз CGate и роутер P2MQRouter."),
                            this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(text);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace vorlen::gui
