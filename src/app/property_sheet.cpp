#include "app/property_sheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/entry_list_model.h"
#include "app/relictor_app.h"
#include "app/search_gate.h"
#include "exfat/exfat_driver.h"
#include "l10n/languages.h"
#include "model/entry.h"

namespace relictor {
namespace {

QFrame* Separator(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLineEdit* ReadOnlyField(const QString& text, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(true);
  edit->setFrame(false);
  edit->setCursorPosition(0);
  QPalette pal = edit->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  edit->setPalette(pal);
  return edit;
}

QString Text(const std::string& s) { return DisplayText(s); }

}  // namespace

// ---------------------------------------------------------------- sheet

CFilePropertySheet::CFilePropertySheet(const QString& caption, bool showOkButton, QWidget* parent)
    : QDialog(parent) {
  setObjectName(caption);
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  pages_->setObjectName("pages");
  layout->addWidget(pages_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(tr("OK"), this);
  ok_->setObjectName("ok");
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName("cancel");
  apply_ = new QPushButton(tr("&Apply"), this);
  apply_->setObjectName("apply");
  help_ = new QPushButton(tr("Help"), this);
  help_->setObjectName("help");
  for (QPushButton* b : {ok_, cancel_, apply_, help_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  ok_->setDefault(showOkButton);
  ok_->setVisible(showOkButton);
  apply_->setEnabled(false);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(apply_, &QPushButton::clicked, this, [this] {
    if (onApply) onApply(pages_->currentWidget());
  });
  connect(help_, &QPushButton::clicked, this, [this] {
    if (auto* app = CRelictorApp::Instance()) app->ShowHelp(this, helpPage);
  });
}

void CFilePropertySheet::AddPage(QWidget* page, const QString& caption) { pages_->addTab(page, caption); }

void CFilePropertySheet::RemoveApplyButton() {
  apply_->hide();
  apply_->setEnabled(false);
}

void CFilePropertySheet::SetModified(bool modified) {
  if (apply_->isVisibleTo(this)) apply_->setEnabled(modified);
}

// ---------------------------------------------------------------- properties

CFilePropertyPage::CFilePropertyPage(CDirEntry* entry, QWidget* parent) : QWidget(parent), entry_(entry) {
  setObjectName("General");
  auto* grid = new QGridLayout(this);
  int row = 0;

  icon_ = new QLabel(this);
  icon_->setObjectName("icon");
  icon_->setFixedSize(40, 40);
  EntryIconProvider icons;
  const bool folder = entry->IsFolder();
  // A file's icon comes from its name alone (an unknown extension gets the
  // generic file icon); a folder shows the folder icon.
  QIcon icon = icons.IconForType(icons.TypeKey(*entry), false);
  if (!icon.isNull()) icon_->setPixmap(icon.pixmap(32, 32));
  grid->addWidget(icon_, row, 0);

  // The sizes of an NTFS file and a deleted file's rating are read on first
  // use; a search running on the same volume is held meanwhile.
  std::string location, size, sizeOnDisk, status;
  {
    SearchPause pause(entry->volume);
    status = entry->GetStatusText();
    location = entry->GetLocation();
    size = entry->GetSizeText(true);
    sizeOnDisk = entry->GetSizeOnDiskText(true);
  }
  // Nothing on the sheet can be changed: the reader never writes to the
  // volume it reads.
  grid->addWidget(ReadOnlyField(Text(entry->GetName()), "name", this), row++, 1);
  grid->addWidget(Separator(this), row++, 0, 1, 2);

  auto line = [&](const char* label, const QString& text, const char* field) {
    grid->addWidget(new QLabel(tr(label), this), row, 0);
    grid->addWidget(ReadOnlyField(text, field, this), row++, 1);
  };
  const QString type = folder ? icons.FolderTypeName() : Text(entry->GetTypeText());
  line(QT_TR_NOOP("Type:"), type, "type");
  line(QT_TR_NOOP("Status:"), QString::fromStdString(status), "status");
  grid->addWidget(Separator(this), row++, 0, 1, 2);
  line(QT_TR_NOOP("Location:"), Text(location), "location");
  line(QT_TR_NOOP("Size:"), QString::fromStdString(size), "size");
  line(QT_TR_NOOP("Size on disk:"), QString::fromStdString(sizeOnDisk), "sizeOnDisk");
  grid->addWidget(Separator(this), row++, 0, 1, 2);
  line(QT_TR_NOOP("Created:"), QString::fromStdString(entry->GetCreatedText()), "created");
  line(QT_TR_NOOP("Modified:"), QString::fromStdString(entry->GetModifiedText()), "modified");
  line(QT_TR_NOOP("Accessed:"), QString::fromStdString(entry->GetAccessedText()), "accessed");
  grid->addWidget(Separator(this), row++, 0, 1, 2);

  // Readers with more to tell about an entry (exFAT keeps both lengths,
  // how the data is allocated and exact times) add their own lines.
  const auto details = ExFatEntryDetails(*entry);
  for (std::size_t i = 0; i < details.size(); ++i) {
    grid->addWidget(new QLabel(Text(details[i].first), this), row, 0);
    grid->addWidget(ReadOnlyField(Text(details[i].second), ("detail" + std::to_string(i)).c_str(), this), row++, 1);
  }
  if (!details.empty()) grid->addWidget(Separator(this), row++, 0, 1, 2);
  grid->addWidget(new QLabel(tr("Attributes:"), this), row, 0);
  auto* boxes = new QHBoxLayout;
  auto attribute = [&](const char* text, const char* field, std::uint32_t bit) {
    auto* box = new QCheckBox(tr(text), this);
    box->setObjectName(QString::fromLatin1(field));
    box->setChecked((entry->attributes & bit) != 0);
    box->setEnabled(false);
    boxes->addWidget(box);
  };
  attribute(QT_TR_NOOP("Read only(&R)"), "readOnly", 0x01);
  attribute(QT_TR_NOOP("Hidden(&H)"), "hidden", 0x02);
  attribute(QT_TR_NOOP("Archive(&A)"), "archive", 0x20);
  boxes->addStretch(1);
  grid->addLayout(boxes, row++, 1);
  grid->setRowStretch(row, 1);
  grid->setColumnStretch(1, 1);
}

QLineEdit* CFilePropertyPage::Field(const char* name) const {
  return findChild<QLineEdit*>(QString::fromLatin1(name));
}

QCheckBox* CFilePropertyPage::Attribute(const char* name) const {
  return findChild<QCheckBox*>(QString::fromLatin1(name));
}

void ShowProperties(CDirEntry* entry, QWidget* parent) {
  if (!entry) return;
  CFilePropertySheet sheet("Properties", false, parent);
  sheet.AddPage(new CFilePropertyPage(entry, &sheet), "General");
  sheet.RemoveApplyButton();
  sheet.helpPage = "properties.html";
  sheet.resize(380, 460);
  sheet.exec();
}

// ---------------------------------------------------------------- options

COptionsGeneralPage::COptionsGeneralPage(OptionsSettings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setObjectName("General");
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(tr("Recover"), this);
  auto* inner = new QGridLayout(group);
  autoUpdate_ = new QCheckBox(tr("Automatically check for updates"), group);
  autoUpdate_->setObjectName("autoUpdate");
  inner->addWidget(autoUpdate_, 0, 0, 1, 2);
  inner->addWidget(new QLabel(tr("Deleted character:"), group), 1, 0);
  deletedChar_ = new QLineEdit(group);
  deletedChar_->setObjectName("deletedChar");
  deletedChar_->setMaxLength(1);
  // One character that can stand in a name: a printable ASCII character,
  // the same rule that loading the setting applies.
  deletedChar_->setValidator(new QRegularExpressionValidator(QRegularExpression("[!-~]?"), deletedChar_));
  deletedChar_->setFixedWidth(40);
  inner->addWidget(deletedChar_, 1, 1, Qt::AlignLeft);
  inner->setColumnStretch(1, 1);
  layout->addWidget(group);
  layout->addStretch(1);

  autoUpdate_->setChecked(settings.AutoUpdate());
  deletedChar_->setText(QString(QLatin1Char(settings.ReplaceChar())));
  connect(deletedChar_, &QLineEdit::textEdited, this, [this] {
    modified_ = true;
    emit Changed();
  });
  connect(autoUpdate_, &QCheckBox::clicked, this, [this] {
    modified_ = true;
    emit Changed();
  });
}

void COptionsGeneralPage::ApplyGeneral() {
  const QString text = deletedChar_->text();
  settings_.SetReplaceChar(text.isEmpty() ? '_' : text.at(0).toLatin1());
  settings_.SetAutoUpdate(autoUpdate_->isChecked());
}

COptionsLangPage::COptionsLangPage(OptionsSettings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  setObjectName("Language");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(tr("Language:"), this));
  languageBox_ = new QComboBox(this);
  languageBox_->setObjectName("language");
  languageBox_->addItems(relictor::l10n::ShippedLanguageNames());
  row->addWidget(languageBox_, 1);
  layout->addLayout(row);
  auto* note = new QLabel(tr("NOTE: After you have changed the interface language, the program must be restarted."), this);
  note->setObjectName("note");
  note->setWordWrap(true);
  layout->addWidget(note);
  layout->addStretch(1);
  // The box opens on the chosen language, or on English for a choice that
  // does not ship.
  languageBox_->setCurrentIndex(settings.Language() < languageBox_->count() ? settings.Language() : 0);
  connect(languageBox_, &QComboBox::activated, this, [this] {
    modified_ = true;
    emit Changed();
  });
}

void COptionsLangPage::ApplyLanguage() { settings_.SetLanguage(languageBox_->currentIndex()); }

void ShowOptions(OptionsSettings& settings, QWidget* parent) {
  CFilePropertySheet sheet("Options", true, parent);
  auto* general = new COptionsGeneralPage(settings, &sheet);
  auto* language = new COptionsLangPage(settings, &sheet);
  sheet.AddPage(general, "General");
  sheet.AddPage(language, "Language");
  sheet.helpPage = "options.html";
  auto refresh = [&] { sheet.SetModified(general->Modified() || language->Modified()); };
  QObject::connect(general, &COptionsGeneralPage::Changed, &sheet, refresh);
  QObject::connect(language, &COptionsLangPage::Changed, &sheet, refresh);
  sheet.onApply = [&](QWidget* active) {
    if (active == general) {
      general->ApplyGeneral();
      general->SetModified(false);
    } else if (active == language) {
      language->ApplyLanguage();
      language->SetModified(false);
    }
    settings.SaveSettings();
    refresh();
  };
  sheet.resize(360, 260);
  if (sheet.exec() == QDialog::Accepted) {
    general->ApplyGeneral();
    language->ApplyLanguage();
    settings.SaveSettings();
  }
}

}  // namespace relictor
