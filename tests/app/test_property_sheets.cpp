// The Properties sheet of a file, a folder and a deleted entry, and the
// Options sheet's Apply, OK and Cancel with their effect on the settings
// store and on the next folder read of a FAT volume.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include "app/panes.h"
#include "app/property_sheet.h"
#include "l10n/languages.h"
#include "app/relictor_app.h"
#include "panes_support.h"

using namespace relictor;
using namespace relictor::test;
using namespace relictor::test::panes;

class PropertySheetsTest : public QObject {
  Q_OBJECT

 private:
  TempDir dir_;
  std::string image_;
  std::unique_ptr<CFATDriver> volume_;

  // Opens the Properties sheet of `entry`, runs `check` on its page and
  // closes it with Cancel.
  void Properties(CDirEntry* entry, const std::function<void(CFilePropertySheet&, CFilePropertyPage&)>& check) {
    bool seen = false;
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      QVERIFY(sheet);
      auto* page = sheet->findChild<CFilePropertyPage*>();
      QVERIFY(page);
      seen = true;
      check(*sheet, *page);
      QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
    });
    ShowProperties(entry, nullptr);
    QVERIFY(seen);
  }

  static QString F(CFilePropertyPage& p, const char* name) { return p.Field(name)->text(); }

  void SetStored(const char* key, const QVariant& value) {
    QSettings s("Kalvor", "Kalvor Relictor");
    s.beginGroup("Settings");
    s.setValue(key, value);
  }
  static QVariant Stored(const char* key) {
    QSettings s("Kalvor", "Kalvor Relictor");
    s.beginGroup("Settings");
    return s.value(key);
  }

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir_ / "config"));
    image_ = dir_ / "props.img";
    QVERIFY(MakeFatImage(image_, 16, "16M", "-s 4"));
    QVERIFY(MakeDir(image_, "/DOCS"));
    QVERIFY(MakeDir(image_, "/OLD"));
    QVERIFY(PutBytes(image_, "/DOCS/REPORT.TXT", std::vector<std::uint8_t>(5000, 'r'), dir_.Path().string()));
    QVERIFY(PutBytes(image_, "/DOCS/DATA.QQZ", std::vector<std::uint8_t>(10, 'q'), dir_.Path().string()));
    QVERIFY(Sh("mattrib -i " + Quote(image_) + " +h +r ::/DOCS/REPORT.TXT"));
    QVERIFY(DeleteFile(image_, "/DOCS/REPORT.TXT"));
    QVERIFY(DeleteFile(image_, "/DOCS/DATA.QQZ"));
    QVERIFY(Sh("mrd -i " + Quote(image_) + " ::/OLD"));
    volume_ = OpenFatImage(image_);
    QVERIFY(volume_);
  }

  void propertiesOfADeletedFile() {
    CDirEntry* file = FindPath(*volume_->GetRoot(), "/DOCS/_EPORT.TXT");
    QVERIFY(file);
    const std::uint32_t attributes = file->attributes;
    Properties(file, [&](CFilePropertySheet& sheet, CFilePropertyPage& p) {
      QCOMPARE(sheet.windowTitle(), QString("Properties"));
      QCOMPARE(sheet.Pages()->tabText(0), QString("General"));
      // Neither OK nor Apply; Cancel and Help are there.
      QVERIFY(!sheet.OkButton()->isVisible());
      QVERIFY(!sheet.ApplyButton()->isVisible());
      QVERIFY(sheet.CancelButton()->isVisible());
      QVERIFY(sheet.HelpButton()->isVisible());
      QCOMPARE(F(p, "name"), QString("_EPORT.TXT"));
      QCOMPARE(F(p, "type"), QString("TXT"));
      QCOMPARE(F(p, "status"), QString::fromStdString(file->GetStatusText()));
      QVERIFY(F(p, "status") != QString("Existing"));
      QCOMPARE(F(p, "location"), QString("C:\\DOCS\\"));
      QCOMPARE(F(p, "size"), QString("4 KB (5000 Bytes)"));
      QCOMPARE(F(p, "sizeOnDisk"), QString("6 KB (6144 Bytes)"));
      QVERIFY(!F(p, "created").isEmpty());
      QVERIFY(!F(p, "modified").isEmpty());
      QCOMPARE(F(p, "accessed").size(), 10);  // FAT keeps the date alone
      QVERIFY(p.Attribute("readOnly")->isChecked());
      QVERIFY(p.Attribute("hidden")->isChecked());
      QVERIFY(p.Attribute("archive")->isChecked());
      QVERIFY(p.IconLabel()->pixmap().width() > 0);
      // Nothing can be applied, so nothing can be changed: a click on a
      // box and typing into the name leave both as they were.
      QTest::mouseClick(p.Attribute("hidden"), Qt::LeftButton);
      QVERIFY(p.Attribute("hidden")->isChecked());
      QTest::keyClicks(p.Field("name"), "X");
      QCOMPARE(F(p, "name"), QString("_EPORT.TXT"));
    });
    QCOMPARE(file->attributes, attributes);
    QCOMPARE(file->name, std::string("_EPORT.TXT"));
  }

  void propertiesOfAFolderAndAnUnknownType() {
    CDirEntry* folder = FindPath(*volume_->GetRoot(), "/DOCS");
    QVERIFY(folder);
    Properties(folder, [&](CFilePropertySheet&, CFilePropertyPage& p) {
      QCOMPARE(F(p, "name"), QString("DOCS"));
      QVERIFY(!F(p, "type").isEmpty());  // the desktop's name for a folder
      QCOMPARE(F(p, "size"), QString());
      QCOMPARE(F(p, "location"), QString("C:\\"));
      QCOMPARE(F(p, "status"), QString("Existing"));
      QVERIFY(!p.Attribute("readOnly")->isChecked());
      QVERIFY(!p.IconLabel()->pixmap().isNull());
    });
    CDirEntry* odd = FindPath(*volume_->GetRoot(), "/DOCS/_ATA.QQZ");
    QVERIFY(odd);
    Properties(odd, [&](CFilePropertySheet&, CFilePropertyPage& p) {
      QCOMPARE(F(p, "type"), QString("QQZ"));
      QVERIFY(!p.IconLabel()->pixmap().isNull());  // the generic file icon
    });
    CDirEntry* gone = FindPath(*volume_->GetRoot(), "/_LD");
    QVERIFY(gone && gone->deleted);
    Properties(gone, [&](CFilePropertySheet&, CFilePropertyPage& p) {
      QCOMPARE(F(p, "name"), QString("_LD"));
      QCOMPARE(F(p, "location"), QString("C:\\"));
    });
  }

  void optionsApplyOkCancel() {
    CRelictorApp app;
    SetStored("ReplaceChar", "#");
    SetStored("AutoUpdate", 0);
    app.LoadSettings();
    QCOMPARE(app.replaceChar, '#');
    AppOptionsSettings settings(app);

    // Apply saves at once and is disabled again; Cancel afterwards keeps it.
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      QVERIFY(sheet);
      QVERIFY(sheet->OkButton()->isVisible());
      QVERIFY(!sheet->ApplyButton()->isEnabled());
      auto* general = sheet->findChild<COptionsGeneralPage*>();
      QLineEdit* ch = general->DeletedCharEdit();
      QCOMPARE(ch->text(), QString("#"));
      ch->selectAll();
      QTest::keyClicks(ch, "ab");  // one character only
      QCOMPARE(ch->text(), QString("a"));
      QVERIFY(sheet->ApplyButton()->isEnabled());
      QTest::mouseClick(sheet->ApplyButton(), Qt::LeftButton);
      QVERIFY(!sheet->ApplyButton()->isEnabled());
      QCOMPARE(Stored("ReplaceChar").toString(), QString("a"));
      QTest::mouseClick(general->AutoUpdateBox(), Qt::LeftButton);
      QVERIFY(sheet->ApplyButton()->isEnabled());
      QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    QCOMPARE(app.replaceChar, 'a');
    QCOMPARE(app.autoUpdate, 0);
    QCOMPARE(Stored("AutoUpdate").toInt(), 0);

    // The box lists the languages that ship and opens on the chosen one,
    // or on English for a choice that does not ship. Apply on the Language
    // page saves the choice for the next start, and the current values of
    // the others.
    const QStringList shipped = relictor::l10n::ShippedLanguageNames();
    QVERIFY(shipped.size() >= 2);
    app.language = 3;
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      auto* lang = sheet->findChild<COptionsLangPage*>();
      QCOMPARE(lang->LanguageBox()->currentText(), QString("English"));
      QStringList listed;
      for (int i = 0; i < lang->LanguageBox()->count(); ++i) listed << lang->LanguageBox()->itemText(i);
      QCOMPARE(listed, shipped);
      QVERIFY(sheet->findChild<QLabel*>("note")->text().startsWith("NOTE: After you have changed"));
      sheet->Pages()->setCurrentWidget(lang);
      lang->LanguageBox()->setCurrentIndex(1);
      lang->LanguageBox()->activated(1);
      QVERIFY(sheet->ApplyButton()->isEnabled());
      SetStored("ReplaceChar", "z");
      QTest::mouseClick(sheet->ApplyButton(), Qt::LeftButton);
      QCOMPARE(Stored("ReplaceChar").toString(), QString("a"));
      QCOMPARE(Stored("Language").toInt(), 1);
      QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    QCOMPARE(app.language, quint16{1});
    WhenModal([&](QWidget* w) {
      auto* lang = w->findChild<COptionsLangPage*>();
      QCOMPARE(lang->LanguageBox()->currentText(), shipped[1]);
      QTest::mouseClick(qobject_cast<CFilePropertySheet*>(w)->CancelButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    app.language = 0;

    // OK with an empty character gives '_', and the automatic check on.
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      auto* general = sheet->findChild<COptionsGeneralPage*>();
      general->DeletedCharEdit()->selectAll();
      QTest::keyClick(general->DeletedCharEdit(), Qt::Key_Delete);
      QTest::mouseClick(general->AutoUpdateBox(), Qt::LeftButton);
      QTest::mouseClick(sheet->OkButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    QCOMPARE(app.replaceChar, '_');
    QCOMPARE(app.autoUpdate, 1);
    QCOMPARE(Stored("ReplaceChar").toString(), QString("_"));
    QCOMPARE(Stored("AutoUpdate").toInt(), 1);

    // Cancel after a change changes nothing.
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      auto* general = sheet->findChild<COptionsGeneralPage*>();
      QTest::keyClicks(general->DeletedCharEdit(), "!");
      QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    QCOMPARE(app.replaceChar, '_');
  }

  void newCharacterActsFromTheNextFolderRead() {
    CRelictorApp app;
    SetStored("ReplaceChar", "_");
    app.LoadSettings();
    auto volume = OpenFatImage(image_, &app.GetHost());
    QVERIFY(volume);
    QVERIFY(FindPath(*volume->GetRoot(), "/_LD"));  // the root is read now
    AppOptionsSettings settings(app);
    WhenModal([&](QWidget* w) {
      auto* sheet = qobject_cast<CFilePropertySheet*>(w);
      auto* general = sheet->findChild<COptionsGeneralPage*>();
      general->DeletedCharEdit()->selectAll();
      QTest::keyClicks(general->DeletedCharEdit(), "~");
      QTest::mouseClick(sheet->OkButton(), Qt::LeftButton);
    });
    ShowOptions(settings, nullptr);
    // The folder read before keeps its names; the next one read uses '~'.
    QVERIFY(FindPath(*volume->GetRoot(), "/_LD"));
    QVERIFY(FindPath(*volume->GetRoot(), "/DOCS/~EPORT.TXT"));
    QVERIFY(!FindPath(*volume->GetRoot(), "/DOCS/_EPORT.TXT"));
  }
};

RELICTOR_PANES_TEST_MAIN(PropertySheetsTest)
#include "test_property_sheets.moc"
