#include "gui/SetForm.h"

#include "GuiSupport.h"
#include "gui/MainForm.h"
#include "gui/StreamTreeModel.h"
#include "main/FakePort.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

namespace vorlen::test {
namespace {

using gui::TSetForm;

std::string Slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> FileLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    const std::string bytes = Slurp(file);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    return lines;
}

void WriteLines(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\r\n";
}

// A check box or radio button takes clicks on its indicator and text only, not on the rest of
// the row a layout stretched it to.
void Tick(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

QString LabelOf(QWidget* field) {
    auto* form = qobject_cast<QFormLayout*>(field->parentWidget()->layout());
    if (form == nullptr)
        return {};
    auto* label = qobject_cast<QLabel*>(form->labelForField(field));
    return label != nullptr ? label->text() : QString();
}

class SetFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Saving = std::filesystem::path(Dir.path().toStdString()) / "saving";
        Form = std::make_unique<TSetForm>(nullptr, Saving);
        Form->show();
        gui::SetOpenFileHandler([this](const gui::TOpenFileRequest& request) {
            ++Picks;
            Request = request;
            return Pick;
        });
    }
    void TearDown() override { gui::SetOpenFileHandler({}); }

    void LoadFile(const std::vector<std::string>& lines) {
        const auto file = std::filesystem::path(Dir.path().toStdString()) / "edited.sav";
        WriteLines(file, lines);
        Pick = QString::fromStdString(file.string());
        QTest::mouseClick(Form->LoadButton, Qt::LeftButton);
    }
    int Node(const char* stream, const char* table = nullptr) const {
        const TStreamTree& tree = Form->Model().Tree;
        return table == nullptr ? tree.FindStream(stream) : tree.FindTable(stream, table);
    }
    void ClickPicture(int node) {
        Form->TreeView1->scrollTo(Form->TreeModel->IndexOf(node));
        const QRect r = Form->TreeView1->PictureRect(node);
        ASSERT_TRUE(r.isValid());
        QTest::mouseClick(Form->TreeView1->viewport(), Qt::LeftButton, {}, r.center());
    }

    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    QTemporaryDir Dir;
    std::filesystem::path Saving;
    std::unique_ptr<TSetForm> Form;
    QString Pick;
    int Picks = 0;
    gui::TOpenFileRequest Request;
};

TEST_F(SetFormTest, OpensWithItsDefaultsCaptionsAndEnabledRules) {
    EXPECT_EQ(Form->windowTitle(), "Общие настройки, данные окружения, соединений и потоков");
    EXPECT_EQ(Form->size(), QSize(951, 513));
    EXPECT_EQ(Form->GeneralGroup->title(), "Общие настройки");
    EXPECT_EQ(Form->EnvironmentGroup->title(), "Настройки окружения ");
    EXPECT_EQ(Form->ConnectionGroup->title(), "Настройки соединения");
    EXPECT_EQ(Form->StreamsGroup->title(), "Настройки потоков и таблиц");

    const std::vector<std::tuple<QLineEdit*, QString, QString>> edits = {
        {Form->RegKeyEdit, "Ключ реестра: ", "SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate"},
        {Form->RegRecordEdit, "Запись в реестре: ", "InstallDir"},
        {Form->CgateDllEdit, "Имя Cgate DLL: ", "cgate64.dll"},
        {Form->RoutNameEdit, "Имя роутера: ", "P2MQRouter64.exe"},
        {Form->RoutIniEdit, "Имя INI файла роутера: ", "client_router.ini"},
        {Form->ServiceNameEdit, "Название сервиса: ", "SpectraCGate"},
        {Form->CGIniEdit, "Cgate ini файл: ", "p2cgate.ini"},
        {Form->SubSysEdit, "Подсистемы: ", "mq,replclient"},
        {Form->LogTypeEdit, "Способ логирования: ", "p2:p2syslog"},
        {Form->LogLevelEdit, "Мин. уровень логов: ", "trace"},
        {Form->TypeConnEdit, "Протокол соединения: ", "p2tcp"},
        {Form->HostEdit, "Хост: ", "127.0.0.1"},
        {Form->PortEdit, "Порт: ", "4001"},
        {Form->ProgNameEdit, "Имя приложения: ", "vorlen"},
        {Form->RoutTOutEdit, "Роутер таймаут: ", "2000"},
        {Form->LocTOutEdit, "Локальный таймаут: ", "500"},
        {Form->VersionEdit, "Версия схем:", "718"},
        {Form->BuffSizeEdit, "Размер буфера (байт): ", "1024000"},
    };
    for (const auto& [edit, label, text] : edits) {
        EXPECT_EQ(LabelOf(edit), label) << edit->objectName().toStdString();
        EXPECT_EQ(edit->text(), text) << edit->objectName().toStdString();
    }
    EXPECT_EQ(LabelOf(Form->MarketBox), "Рынок: ");
    EXPECT_EQ(LabelOf(Form->SpinEdit1), "Количество транзаций в секунду:  30 x ");
    EXPECT_EQ(LabelOf(Form->ProgKeyEdit), "Ключ сертификата: ");

    EXPECT_EQ(Form->MarketBox->count(), 3);
    EXPECT_EQ(Form->MarketBox->itemText(2), "CUSTOM SELECT");
    EXPECT_EQ(Form->MarketBox->currentText(), "FUTURES");
    EXPECT_EQ(Form->SpinEdit1->value(), 1);
    EXPECT_EQ(Form->SpinEdit1->minimum(), 1);
    EXPECT_EQ(Form->SpinEdit1->maximum(), 100);
    EXPECT_EQ(Form->RadioGroup1->title(), "Глубмна стакана");
    EXPECT_EQ(Form->RadioButtons->checkedId(), 0);
    EXPECT_EQ(Form->RadioButtons->button(2)->text(), "50");
    EXPECT_EQ(Form->CLTBox->text(), "Не показывать фьючерсы \"_CLT\"");
    EXPECT_TRUE(Form->CLTBox->isChecked());
    EXPECT_EQ(Form->FightBox->text(), "  Боевой контур");
    EXPECT_FALSE(Form->FightBox->isChecked());
    EXPECT_EQ(Form->ProtocolBox->text(), "Использовать протокол LRPCQ");
    EXPECT_EQ(Form->SchemBox->text(), "  Использовать схемы из INI файлов");
    EXPECT_EQ(Form->ApplyButton->text(), "Применить");
    EXPECT_EQ(Form->CancelButton->text(), "Отмена");
    EXPECT_EQ(Form->SaveButton->text(), "Сохранить");
    EXPECT_EQ(Form->LoadButton->text(), "Загрузить");

    EXPECT_TRUE(Form->TypeConnEdit->isReadOnly());
    EXPECT_TRUE(Form->ProgNameEdit->isReadOnly());
    EXPECT_FALSE(Form->ProgNameEdit->isEnabled());
    EXPECT_TRUE(Form->VersionEdit->isReadOnly());
    EXPECT_FALSE(Form->VersionEdit->isEnabled());
    Tick(Form->SchemBox);
    EXPECT_TRUE(Form->VersionEdit->isEnabled());
    Tick(Form->FightBox);
    EXPECT_FALSE(Form->ProgKeyEdit->isEnabled());
    EXPECT_TRUE(Form->Model().Values.FightBox);
    Tick(Form->ProtocolBox);
    EXPECT_EQ(Form->TypeConnEdit->text(), "p2lrpcq");
    Tick(Form->ProtocolBox);
    EXPECT_EQ(Form->TypeConnEdit->text(), "p2tcp");
}

TEST_F(SetFormTest, KeyIsMaskedWithStarsAndItsMenuShowsOrHidesIt) {
    EXPECT_EQ(Form->ProgKeyEdit->text().size(), 8);
    EXPECT_EQ(Form->ProgKeyEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Form->ProgKeyEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                    Form->ProgKeyEdit),
              '*');
    EXPECT_EQ(Form->ProgKeyEdit->displayText(), QString(8, QLatin1Char('*')));
    EXPECT_EQ(Form->N1->text(), "Показать ключ");
    EXPECT_EQ(Form->N2->text(), "Скрыть ключ");
    EXPECT_FALSE(Form->N1->isChecked());
    EXPECT_TRUE(Form->N2->isChecked());
    Form->N1->trigger();
    EXPECT_EQ(Form->ProgKeyEdit->displayText(), Form->ProgKeyEdit->text());
    EXPECT_TRUE(Form->N1->isChecked());
    EXPECT_FALSE(Form->N2->isChecked());
    Form->N2->trigger();
    EXPECT_EQ(Form->ProgKeyEdit->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Form->N2->isChecked());
    EXPECT_EQ(Form->ProgKeyEdit->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(SetFormTest, SavingWritesTheMarketsFileBesideTheProgramAndOverwritesIt) {
    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    const auto forts = Saving / "Forts.sav";
    ASSERT_TRUE(std::filesystem::exists(forts));
    const auto lines = FileLines(forts);
    ASSERT_EQ(lines.size(), 177U);
    EXPECT_EQ(lines[9], "false");
    EXPECT_EQ(lines[10], "false");
    EXPECT_EQ(lines[16], "p2tcp");
    EXPECT_EQ(lines[24], "-1;-1;-1");
    EXPECT_TRUE(Boxes.Calls.empty()) << "saving asks nothing";
    EXPECT_TRUE(Form->isVisible()) << "the dialog stays open";

    Form->MarketBox->setCurrentIndex(1);
    emit Form->MarketBox->activated(1);
    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    const auto options = Saving / "Options.sav";
    ASSERT_TRUE(std::filesystem::exists(options));
    EXPECT_EQ(FileLines(options)[6], "1");

    Form->HostEdit->clear();
    QTest::keyClicks(Form->HostEdit, "10.0.0.7");
    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    const auto again = FileLines(options);
    ASSERT_EQ(again.size(), 177U);
    EXPECT_EQ(again[17], "10.0.0.7");
}

TEST_F(SetFormTest, LoadingAppliesLinesByTheirControlsRules) {
    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    std::vector<std::string> lines = FileLines(Saving / "Forts.sav");
    ASSERT_EQ(lines.size(), 177U);
    lines[16] = "p2lrpcq";
    lines[9] = "TRUE";
    lines[10] = "true";
    lines[17] = "192.168.1.1";
    lines[7] = "250"; // the spin holds it to 100
    LoadFile(lines);
    EXPECT_EQ(Picks, 1);
    EXPECT_EQ(Request.NameFilters, (QStringList{"Sav files (*.sav)", "All fules (*.*)"}));
    EXPECT_EQ(Request.DefaultSuffix, "sav");
    EXPECT_TRUE(Form->ProtocolBox->isChecked());
    EXPECT_EQ(Form->TypeConnEdit->text(), "p2lrpcq");
    EXPECT_FALSE(Form->SchemBox->isChecked());
    EXPECT_FALSE(Form->VersionEdit->isEnabled());
    EXPECT_TRUE(Form->FightBox->isChecked());
    EXPECT_FALSE(Form->ProgKeyEdit->isEnabled());
    EXPECT_EQ(Form->HostEdit->text(), "192.168.1.1");
    EXPECT_EQ(Form->SpinEdit1->value(), 100);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(SetFormTest, ADifferentMarketLineKeepsTheOldPresetsEnabledFlags) {
    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    std::vector<std::string> lines = FileLines(Saving / "Forts.sav");
    const TStreamTree& tree = Form->Model().Tree;
    const int optionRate = Node("FORTS_FEERATE_REPL", "option_rate");
    ASSERT_FALSE(tree.Enabled(optionRate));
    lines[6] = "1";
    lines[24 + optionRate] = "1;1;1";
    LoadFile(lines);
    EXPECT_EQ(Form->MarketBox->currentText(), "OPTIONS");
    EXPECT_FALSE(tree.Enabled(optionRate)) << "FUTURES left it disabled";
    EXPECT_TRUE(tree.IsTicked(optionRate)) << "the tick comes from the file";
}

TEST_F(SetFormTest, MissingShortAndCancelledLoads) {
    Pick = QString::fromStdString((Saving / "nothing.sav").string());
    QTest::mouseClick(Form->LoadButton, Qt::LeftButton);
    EXPECT_EQ(Boxes.Calls,
              (std::vector<TDialogCall>{{TDialogKind::Info, "Сохраненный файл не найлен!"}}));

    Boxes.Clear();
    Form->HostEdit->clear();
    QTest::keyClicks(Form->HostEdit, "kept");
    LoadFile(std::vector<std::string>(23, "x"));
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(Form->HostEdit->text(), "kept");

    Pick.clear();
    QTest::mouseClick(Form->LoadButton, Qt::LeftButton);
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(Form->HostEdit->text(), "kept");

    QTest::mouseClick(Form->SaveButton, Qt::LeftButton);
    std::vector<std::string> lines = FileLines(Saving / "Forts.sav");
    lines.resize(30);
    LoadFile(lines);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error).size(), 1U) << "a file short of tree lines";
}

TEST_F(SetFormTest, ClicksOnTheTreesPictures) {
    const TStreamTree& tree = Form->Model().Tree;
    const int fee = Node("FORTS_FEE_REPL");
    const int adjusted = Node("FORTS_FEE_REPL", "adjusted_fee");
    const int penalty = Node("FORTS_FEE_REPL", "penalty");
    const int disabled = Node("FORTS_FEE_REPL", "sys_events");
    ASSERT_TRUE(tree.IsTicked(fee));

    // Tables show once their stream is expanded; a double click does that.
    Form->TreeView1->scrollTo(Form->TreeModel->IndexOf(fee));
    const QRect caption = Form->TreeView1->visualRect(Form->TreeModel->IndexOf(fee));
    QTest::mouseDClick(Form->TreeView1->viewport(), Qt::LeftButton, {}, caption.center());
    ASSERT_TRUE(tree.Expanded(fee));
    EXPECT_TRUE(Form->TreeView1->isExpanded(Form->TreeModel->IndexOf(fee)));

    ClickPicture(disabled);
    EXPECT_FALSE(tree.IsTicked(disabled));
    EXPECT_FALSE(Form->TreeModel->flags(Form->TreeModel->IndexOf(disabled)) & Qt::ItemIsEnabled);

    ClickPicture(adjusted);
    EXPECT_FALSE(tree.IsTicked(adjusted));
    EXPECT_TRUE(tree.IsTicked(fee)) << "penalty is still ticked";
    ClickPicture(penalty);
    EXPECT_FALSE(tree.IsTicked(fee)) << "the last ticked table unticks its stream";

    // A click on the caption is not a click on the picture.
    QTest::mouseClick(Form->TreeView1->viewport(), Qt::LeftButton, {},
                      Form->TreeView1->visualRect(Form->TreeModel->IndexOf(penalty)).center() +
                          QPoint(20, 0));
    EXPECT_FALSE(tree.IsTicked(penalty));

    ClickPicture(fee);
    EXPECT_TRUE(tree.IsTicked(fee));
    EXPECT_TRUE(tree.IsTicked(adjusted));
    EXPECT_FALSE(tree.IsTicked(disabled));

    // The root and the groups have no picture to click.
    EXPECT_FALSE(Form->TreeView1->PictureRect(0).isValid());
    QTest::mouseClick(Form->TreeView1->viewport(), Qt::LeftButton, {},
                      Form->TreeView1->visualRect(Form->TreeModel->IndexOf(0)).topLeft() +
                          QPoint(4, 4));
    EXPECT_EQ(tree.ImageIndex(0), -1);

    QTest::mouseDClick(Form->TreeView1->viewport(), Qt::LeftButton, {},
                       Form->TreeView1->visualRect(Form->TreeModel->IndexOf(fee)).center());
    EXPECT_FALSE(tree.Expanded(fee));
    EXPECT_FALSE(Form->TreeView1->isExpanded(Form->TreeModel->IndexOf(fee)));
    EXPECT_EQ(Form->TreeView1->toolTip(), "Изменнени подключаемых потоков и таблиц");
}

TEST_F(SetFormTest, MarketAndDepthChoicesRunTheirRules) {
    const TStreamTree& tree = Form->Model().Tree;
    Tick(Form->RadioButtons->button(1));
    EXPECT_TRUE(tree.IsTicked(Node("FORTS_AGGR20_REPL")));
    EXPECT_FALSE(tree.Enabled(Node("FORTS_AGGR5_REPL")));

    Form->MarketBox->setCurrentIndex(2);
    emit Form->MarketBox->activated(2);
    int ticked = 0;
    for (int n = 0; n < tree.NodeCount(); ++n)
        ticked += tree.Node(n).Level == TNodeLevel::Stream && tree.IsTicked(n) ? 1 : 0;
    EXPECT_EQ(ticked, 1);
    EXPECT_TRUE(tree.IsTicked(Node("FORTS_AGGR20_REPL")));
    // The groups show their streams after a preset.
    EXPECT_TRUE(Form->TreeView1->isExpanded(Form->TreeModel->IndexOf(1)));
}

TEST_F(SetFormTest, TakeModelHandsOverWhatTheUserEntered) {
    Form->SpinEdit1->setValue(100);
    Form->BuffSizeEdit->clear();
    QTest::keyClicks(Form->BuffSizeEdit, "-5");
    Tick(Form->CLTBox);
    std::unique_ptr<TSettingsModel> model = Form->TakeModel();
    Form.reset();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->TrSpeed(), 3000U);
    EXPECT_EQ(model->Values.BuffSizeEdit, "-5");
    EXPECT_FALSE(model->Values.CLTBox);
    model->Tree.ClickPicture(2); // no view listens any more
}

// Applying through the main window: the values the user left in the dialog reach the record.
class ApplyThroughWindowTest : public ::testing::Test {
protected:
    // Opens the main window, lets `edit` work on the dialog, applies it.
    void Apply(const std::function<void(TSetForm&)>& edit) {
        Modal.Steps.push_back([edit](QDialog& d) {
            auto* form = qobject_cast<TSetForm*>(&d);
            EXPECT_NE(form, nullptr);
            edit(*form);
            QTest::mouseClick(form->ApplyButton, Qt::LeftButton);
            return d.result();
        });
        Form = std::make_unique<gui::TMainForm>(FakePortFactory({}, Log, &Port), "/opt/vorlen/");
        ASSERT_TRUE(WaitFor([&] { return Modal.Shown == 1; }));
    }
    void TearDown() override {
        Boxes.Answers = {true};
        if (Form != nullptr)
            Form->close();
    }

    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TScriptedModal Modal;
    TFakePort* Port = nullptr;
    std::unique_ptr<gui::TMainForm> Form;
};

TEST_F(ApplyThroughWindowTest, BadBufferSizeIsRefused) {
    Apply([](TSetForm& f) {
        f.BuffSizeEdit->clear();
        QTest::keyClicks(f.BuffSizeEdit, "1024000x");
    });
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не правильно введен \"Размер буфера\" в настройках!"});
    EXPECT_EQ(Boxes.Texts(TDialogKind::Info), std::vector<std::string>{"Настройки не применены."});
    EXPECT_FALSE(Port->S.isSet);
}

TEST_F(ApplyThroughWindowTest, FightSpinAndCltReachTheRecord) {
    Apply([](TSetForm& f) {
        Tick(f.FightBox);
        f.SpinEdit1->setValue(100);
        Tick(f.CLTBox);
    });
    ASSERT_TRUE(Port->S.isSet);
    EXPECT_EQ(Port->S.ProgKey, "");
    EXPECT_TRUE(Port->S.Fight);
    EXPECT_EQ(Port->S.TrSpeed, 3000U);
    EXPECT_FALSE(Port->S.CLTFut);
}

TEST_F(ApplyThroughWindowTest, DefaultsApplyWithTrSpeed30) {
    Apply([](TSetForm&) {});
    ASSERT_TRUE(Port->S.isSet);
    EXPECT_EQ(Port->S.TrSpeed, 30U);
    EXPECT_EQ(Port->S.ProgKey.size(), 8U);
    EXPECT_TRUE(Port->S.CLTFut);
    EXPECT_EQ(Port->Lsnrs.size(), 12U);
}

} // namespace
} // namespace vorlen::test
