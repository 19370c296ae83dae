#include "gui/MdiChild.h"

#include "gui/DesignFont.h"
#include "gui/JournalPane.h"

#include <QCloseEvent>
#include <QPushButton>

namespace vorlen::gui {

namespace {
const QSize kClientSize(415, 253);
}

QSize TMDIChild::sizeHint() const {
    return kClientSize;
}

TMDIChild::TMDIChild(TCGStorage* store, TCGTRConnection* transactions, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("MDIChild"));
    setWindowTitle(QStringLiteral("MDI Child"));
    setFont(DesignFont(font()));
    resize(kClientSize);

    Memo1 = new TJournalPane(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(7, 121, 401, 89);
    Memo1->setPlainText(QStringLiteral("Memo1"));

    // The buttons belong to the expert's design; the terminal gives them no command.
    BitBtn1 = new QPushButton(QStringLiteral("Старт"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(24, 216, 75, 25);
    BitBtn2 = new QPushButton(QStringLiteral("Настройки"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(136, 216, 75, 25);
    Button1 = new QPushButton(QStringLiteral("Загрузить эксперта"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(240, 216, 123, 25);

    BookButton = new QPushButton(QStringLiteral("Стакан"), this);
    BookButton->setObjectName(QStringLiteral("BookButton"));
    BookButton->setGeometry(7, 7, 75, 25);
    connect(BookButton, &QPushButton::clicked, this, [this] {
        if (FExpert != nullptr)
            emit BookRequested(FExpert->isin_id, QString::fromStdString(FExpert->Futisin));
    });

    if (store != nullptr) {
        if (transactions != nullptr)
            FReplies = std::make_unique<TTrReplies>(*transactions);
        FExpert = std::make_unique<TExpert>(*store, FReplies.get());
        FExpert->Memo = Memo1;
    }
}

TMDIChild::~TMDIChild() {
    StopExpert();
}

std::string TMDIChild::Caption() const {
    return windowTitle().toStdString();
}

void TMDIChild::SetupExpert(std::int32_t isin_id, const std::string& futName,
                            const std::string& futIsin) {
    if (FExpert == nullptr)
        return;
    FExpert->isin_id = isin_id;
    FExpert->Futname = futName;
    FExpert->Futisin = futIsin;
    FExpert->Memo = Memo1;
}

bool TMDIChild::RegisterAndStart() {
    return FExpert != nullptr && FExpert->RegisterAndStart();
}

void TMDIChild::StopExpert() {
    if (FExpert == nullptr)
        return;
    // An expert that never started (its registration failed) is freed without waiting.
    FExpert->Stop();
    FExpert.reset();
}

void TMDIChild::closeEvent(QCloseEvent* event) {
    StopExpert();
    event->accept();
}

} // namespace vorlen::gui
