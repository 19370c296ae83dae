#include "gui/SetForm.h"

#include "gui/DesignFont.h"
#include "gui/StreamTreeModel.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vorlen::gui {

namespace {

constexpr int kWidth = 951;
constexpr int kHeight = 513;
constexpr int kEditHeight = 21;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// The key edit hides its text behind "*", whatever the platform's own password character.
class TStarStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QFormLayout* NewForm(QGroupBox* group) {
    auto* form = new QFormLayout(group);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setVerticalSpacing(2);
    form->setContentsMargins(6, 4, 6, 6);
    return form;
}

QCheckBox* NewBox(QWidget* parent, const char* name, const char* caption) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

TSetForm::TSetForm(QWidget* parent, std::filesystem::path savingDir)
    : QDialog(parent), FModel(std::make_unique<TSettingsModel>()),
      FSavingDir(savingDir.empty() ? DefaultSavingDir() : std::move(savingDir)) {
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QString::fromUtf8(kSetFormCaption));
    setFont(DesignFont(font()));
    setFixedSize(kWidth, kHeight);

    CreateGeneralGroup();
    CreateEnvironmentGroup();
    CreateConnectionGroup();
    CreateStreamsGroup();
    CreateButtons();

    auto* left = new QVBoxLayout;
    left->addWidget(GeneralGroup);
    left->addStretch(1);
    auto* middle = new QVBoxLayout;
    middle->addWidget(EnvironmentGroup);
    middle->addWidget(ConnectionGroup);
    middle->addStretch(1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 0);
    columns->addLayout(middle, 0);
    columns->addWidget(StreamsGroup, 1);
    GeneralGroup->setFixedWidth(350);
    EnvironmentGroup->setFixedWidth(280);
    ConnectionGroup->setFixedWidth(280);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SaveButton);
    buttons->addWidget(LoadButton);
    buttons->addStretch(1);
    buttons->addWidget(ApplyButton);
    buttons->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(columns, 1);
    layout->addLayout(buttons, 0);

    // FormCreate: the key masked, FUTURES at depth 5 (the model has run the preset), and the
    // protocol text following its box.
    N2Click();
    ShowModel();
}

TSetForm::~TSetForm() {
    // The tree's Qt model is a child object and would outlive the tree it reads (members go
    // before children): let it go first.
    TreeView1->setModel(nullptr);
    delete TreeModel;
    TreeModel = nullptr;
}

std::unique_ptr<TSettingsModel> TSetForm::TakeModel() {
    TreeModel->Detach();
    TreeView1->setModel(nullptr);
    return std::move(FModel);
}

QLineEdit* TSetForm::NewEdit(const char* name, std::string TDialogValues::*field) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFixedHeight(kEditHeight);
    FEdits.emplace_back(edit, field);
    // Only the user's typing is copied; the model's own changes reach the edit through
    // ShowModel.
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
        if (FModel != nullptr)
            FModel->Values.*field = text.toStdString();
    });
    return edit;
}

void TSetForm::CreateGeneralGroup() {
    GeneralGroup = new QGroupBox(QStringLiteral("Общие настройки"), this);
    GeneralGroup->setObjectName(QStringLiteral("GeneralGroup"));
    QFormLayout* form = NewForm(GeneralGroup);
    RegKeyEdit = NewEdit("RegKeyEdit", &TDialogValues::RegKeyEdit);
    RegRecordEdit = NewEdit("RegRecordEdit", &TDialogValues::RegRecordEdit);
    CgateDllEdit = NewEdit("CgateDllEdit", &TDialogValues::CgateDllEdit);
    RoutNameEdit = NewEdit("RoutNameEdit", &TDialogValues::RoutNameEdit);
    RoutIniEdit = NewEdit("RoutIniEdit", &TDialogValues::RoutIniEdit);
    ServiceNameEdit = NewEdit("ServiceNameEdit", &TDialogValues::ServiceNameEdit);
    form->addRow(QStringLiteral("Ключ реестра: "), RegKeyEdit);
    form->addRow(QStringLiteral("Запись в реестре: "), RegRecordEdit);
    form->addRow(QStringLiteral("Имя Cgate DLL: "), CgateDllEdit);
    form->addRow(QStringLiteral("Имя роутера: "), RoutNameEdit);
    form->addRow(QStringLiteral("Имя INI файла роутера: "), RoutIniEdit);
    form->addRow(QStringLiteral("Название сервиса: "), ServiceNameEdit);

    MarketBox = new QComboBox(this);
    MarketBox->setObjectName(QStringLiteral("MarketBox"));
    for (std::string_view market : kMarketNames)
        MarketBox->addItem(Q(market));
    connect(MarketBox, &QComboBox::activated, this, &TSetForm::MarketBoxChange);
    form->addRow(QStringLiteral("Рынок: "), MarketBox);

    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(1, 100);
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this](int value) {
        if (FModel != nullptr)
            FModel->SetSpin(value);
    });
    form->addRow(QStringLiteral("Количество транзаций в секунду:  30 x "), SpinEdit1);

    auto* books = new QGroupBox(QStringLiteral("Стаканы"), this);
    books->setObjectName(QStringLiteral("BooksGroup"));
    RadioGroup1 = new QGroupBox(QStringLiteral("Глубмна стакана"), books);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioButtons = new QButtonGroup(this);
    auto* radios = new QHBoxLayout(RadioGroup1);
    radios->setContentsMargins(6, 2, 6, 2);
    for (std::size_t i = 0; i < kDepthItems.size(); ++i) {
        auto* radio = new QRadioButton(Q(kDepthItems[i]), RadioGroup1);
        radio->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        RadioButtons->addButton(radio, static_cast<int>(i));
        radios->addWidget(radio, 1);
    }
    connect(RadioButtons, &QButtonGroup::idClicked, this, &TSetForm::RadioGroup1Click);
    auto* booksLayout = new QVBoxLayout(books);
    booksLayout->setContentsMargins(6, 2, 6, 4);
    booksLayout->addWidget(RadioGroup1);
    form->addRow(books);

    CLTBox = NewBox(this, "CLTBox", "Не показывать фьючерсы \"_CLT\"");
    connect(CLTBox, &QCheckBox::clicked, this, [this](bool ticked) {
        if (FModel != nullptr)
            FModel->Values.CLTBox = ticked;
    });
    form->addRow(CLTBox);
    FightBox = NewBox(this, "FightBox", "  Боевой контур");
    connect(FightBox, &QCheckBox::clicked, this, &TSetForm::FightBoxClick);
    form->addRow(FightBox);
}

void TSetForm::CreateEnvironmentGroup() {
    EnvironmentGroup = new QGroupBox(QStringLiteral("Настройки окружения "), this);
    EnvironmentGroup->setObjectName(QStringLiteral("EnvironmentGroup"));
    QFormLayout* form = NewForm(EnvironmentGroup);
    CGIniEdit = NewEdit("CGIniEdit", &TDialogValues::CGIniEdit);
    SubSysEdit = NewEdit("SubSysEdit", &TDialogValues::SubSysEdit);
    LogTypeEdit = NewEdit("LogTypeEdit", &TDialogValues::LogTypeEdit);
    LogLevelEdit = NewEdit("LogLevelEdit", &TDialogValues::LogLevelEdit);
    ProgKeyEdit = NewEdit("ProgKeyEdit", &TDialogValues::ProgKeyEdit);
    auto* star = new TStarStyle;
    star->setParent(ProgKeyEdit);
    ProgKeyEdit->setStyle(star);
    form->addRow(QStringLiteral("Cgate ini файл: "), CGIniEdit);
    form->addRow(QStringLiteral("Подсистемы: "), SubSysEdit);
    form->addRow(QStringLiteral("Способ логирования: "), LogTypeEdit);
    form->addRow(QStringLiteral("Мин. уровень логов: "), LogLevelEdit);
    form->addRow(QStringLiteral("Ключ сертификата: "), ProgKeyEdit);

    KeyMenu = new QMenu(this);
    KeyMenu->setObjectName(QStringLiteral("KeyMenu"));
    N1 = KeyMenu->addAction(QStringLiteral("Показать ключ"));
    N1->setObjectName(QStringLiteral("N1"));
    N1->setCheckable(true);
    N2 = KeyMenu->addAction(QStringLiteral("Скрыть ключ"));
    N2->setObjectName(QStringLiteral("N2"));
    N2->setCheckable(true);
    connect(N1, &QAction::triggered, this, &TSetForm::N1Click);
    connect(N2, &QAction::triggered, this, &TSetForm::N2Click);
    ProgKeyEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ProgKeyEdit, &QWidget::customContextMenuRequested, this,
            [this](QPoint pos) { KeyMenu->popup(ProgKeyEdit->mapToGlobal(pos)); });
}

void TSetForm::CreateConnectionGroup() {
    ConnectionGroup = new QGroupBox(QStringLiteral("Настройки соединения"), this);
    ConnectionGroup->setObjectName(QStringLiteral("ConnectionGroup"));
    QFormLayout* form = NewForm(ConnectionGroup);
    TypeConnEdit = NewEdit("TypeConnEdit", &TDialogValues::TypeConnEdit);
    TypeConnEdit->setReadOnly(true);
    HostEdit = NewEdit("HostEdit", &TDialogValues::HostEdit);
    PortEdit = NewEdit("PortEdit", &TDialogValues::PortEdit);
    ProgNameEdit = NewEdit("ProgNameEdit", &TDialogValues::ProgNameEdit);
    ProgNameEdit->setReadOnly(true);
    ProgNameEdit->setEnabled(false);
    RoutTOutEdit = NewEdit("RoutTOutEdit", &TDialogValues::RoutTOutEdit);
    LocTOutEdit = NewEdit("LocTOutEdit", &TDialogValues::LocTOutEdit);
    VersionEdit = NewEdit("VersionEdit", &TDialogValues::VersionEdit);
    VersionEdit->setReadOnly(true);
    BuffSizeEdit = NewEdit("BuffSizeEdit", &TDialogValues::BuffSizeEdit);
    form->addRow(QStringLiteral("Протокол соединения: "), TypeConnEdit);
    form->addRow(QStringLiteral("Хост: "), HostEdit);
    form->addRow(QStringLiteral("Порт: "), PortEdit);
    form->addRow(QStringLiteral("Имя приложения: "), ProgNameEdit);
    form->addRow(QStringLiteral("Роутер таймаут: "), RoutTOutEdit);
    form->addRow(QStringLiteral("Локальный таймаут: "), LocTOutEdit);
    form->addRow(QStringLiteral("Версия схем:"), VersionEdit);
    form->addRow(QStringLiteral("Размер буфера (байт): "), BuffSizeEdit);

    ProtocolBox = NewBox(this, "ProtocolBox", "Использовать протокол LRPCQ");
    connect(ProtocolBox, &QCheckBox::clicked, this, &TSetForm::ProtocolBoxClick);
    form->addRow(ProtocolBox);
    SchemBox = NewBox(this, "SchemBox", "  Использовать схемы из INI файлов");
    connect(SchemBox, &QCheckBox::clicked, this, &TSetForm::SchemBoxClick);
    form->addRow(SchemBox);
}

void TSetForm::CreateStreamsGroup() {
    StreamsGroup = new QGroupBox(QStringLiteral("Настройки потоков и таблиц"), this);
    StreamsGroup->setObjectName(QStringLiteral("StreamsGroup"));
    TreeView1 = new TStreamTreeView(StreamsGroup);
    TreeModel = new TStreamTreeModel(FModel->Tree, this);
    TreeView1->SetTreeModel(TreeModel);
    auto* layout = new QVBoxLayout(StreamsGroup);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->addWidget(TreeView1);
}

void TSetForm::CreateButtons() {
    const auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        b->setMinimumWidth(95);
        return b;
    };
    ApplyButton = button("ApplyButton", "Применить");
    CancelButton = button("CancelButton", "Отмена");
    SaveButton = button("SaveButton", "Сохранить");
    LoadButton = button("LoadButton", "Загрузить");
    connect(ApplyButton, &QPushButton::clicked, this, &TSetForm::ApplyButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TSetForm::CancelButtonClick);
    connect(SaveButton, &QPushButton::clicked, this, &TSetForm::SaveButtonClick);
    connect(LoadButton, &QPushButton::clicked, this, &TSetForm::LoadButtonClick);
}

void TSetForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (FCentred)
        return;
    FCentred = true;
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

} // namespace vorlen::gui
