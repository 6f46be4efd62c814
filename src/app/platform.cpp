#include "app/platform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include "app/error_dialog.h"
#include "app/file_names.h"
#include "app/settings_key.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"

namespace lumifold {

namespace {

namespace text {
const char* const kOpenCaption = "Open";
// The dialogs' filters in the description|patterns form of the original
// program; the first description lacks its closing parenthesis there, which
// nameFiltersFrom mends on the way. openFilter adds every further input
// format of the decoder table to the open dialog's.
const char* const kOpenAllStart = "All (*.jpg;*.jpeg;*.bmp";
const char* const kOpenFilterRest =
    "|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp";
const char* const kFormatFilter = "|%1 images (%2)|%2";
const char* const kPreviewNone = "(None)";
const char* const kPreviewSize = "%1 x %2";
}  // namespace text

QString g_applicationTitle;

// "All (*.jpg;*.jpeg;*.bmp;*.tif;...|...|Bitmaps (*.bmp)|*.bmp|TIFF images
// (*.tif;*.tiff)|*.tif;*.tiff|...": the original filter, each decoder but
// BMP's extensions added to "All" and as an item of their own.
QString openFilter() {
  QString all;
  QString items;
  for (const velIPL::ImageDecoder* decoder : velIPL::imageDecoders()) {
    if (decoder == velIPL::imageDecoders().front()) continue;
    QStringList patterns;
    for (std::string_view ext : decoder->extensions()) {
      patterns << QStringLiteral("*") + QString::fromUtf8(ext.data(), static_cast<qsizetype>(ext.size()));
    }
    all += QLatin1Char(';') + patterns.join(QLatin1Char(';'));
    items += QString::fromUtf8(text::kFormatFilter)
                 .arg(QString::fromUtf8(decoder->name().data(), static_cast<qsizetype>(decoder->name().size())),
                      patterns.join(QLatin1Char(';')));
  }
  const QString allPatterns = QString::fromUtf8(text::kOpenAllStart).mid(5) + all;
  return QString::fromUtf8(text::kOpenAllStart) + all + QLatin1Char('|') + allPatterns +
         QString::fromUtf8(text::kOpenFilterRest) + items;
}

// The picture preview beside the file list of a dialog: the picture scaled
// to fit, with its size below.
class PicturePreview : public QWidget {
public:
  explicit PicturePreview(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    picture_ = new QLabel(this);
    picture_->setFixedSize(kSide, kSide);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    caption_ = new QLabel(this);
    caption_->setAlignment(Qt::AlignCenter);
    column->addWidget(picture_);
    column->addWidget(caption_);
    column->addStretch(1);
    showPicture(QString());
  }

  void showPicture(const QString& path) {
    picture_->clear();
    caption_->setText(QString::fromUtf8(text::kPreviewNone));
    if (path.isEmpty() || !QFileInfo(path).isFile()) return;
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return;
    // Only the scaled picture is decoded into memory.
    reader.setScaledSize(size.scaled(kSide - 4, kSide - 4, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) return;
    picture_->setPixmap(QPixmap::fromImage(image));
    caption_->setText(QString::fromUtf8(text::kPreviewSize).arg(size.width()).arg(size.height()));
  }

private:
  static constexpr int kSide = 160;
  QLabel* picture_;
  QLabel* caption_;
};

// Prepares a picture dialog: Qt's own dialog, so the preview can sit in it,
// starting in the directory of initialFileName.
void preparePictureDialog(QFileDialog& dialog, const QString& initialFileName, const QString& filter) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(nameFiltersFrom(filter));
  const QString directory = directoryPart(initialFileName);
  if (!directory.isEmpty()) dialog.setDirectory(directory);
  const QString fileName = QFileInfo(initialFileName).fileName();
  if (!fileName.isEmpty() && !fileName.contains(QLatin1Char('*'))) dialog.selectFile(fileName);

  auto* preview = new PicturePreview(&dialog);
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
    grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
  }
  QObject::connect(&dialog, &QFileDialog::currentChanged, preview,
                   [preview](const QString& path) { preview->showPicture(path); });
}

}  // namespace

QStringList QtPlatform::runOpenPictureDialog(QWidget* parent, const QString& initialFileName) {
  QFileDialog dialog(parent, QString::fromUtf8(text::kOpenCaption));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  preparePictureDialog(dialog, initialFileName, openFilter());
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

Platform::SaveChoice QtPlatform::runSaveDialog(QWidget* parent, const QString& caption,
                                              const QString& initialFileName, const QString& filter) {
  QFileDialog dialog(parent, caption);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The name is formed after the dialog (an extension replaced), so asking
  // here about the name as typed would ask about the wrong file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  preparePictureDialog(dialog, initialFileName, filter);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return {};
  return {chosen.front(), static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter()))};
}

void QtPlatform::showMessage(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

void QtPlatform::reportException(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, applicationTitle(), message, QMessageBox::Ok, parent);
  box.exec();
}

void QtPlatform::showErrorDialog(QWidget* parent, const QString& path, const QString& reason) {
  TErrorDialog dialog(parent);
  dialog.setError(path, reason);
  dialog.exec();
}

void QtPlatform::openWebAddress(const QString& address) { QDesktopServices::openUrl(QUrl(address)); }

std::unique_ptr<SettingsKey> QtPlatform::openSettingsKey() { return QSettingsKey::open(); }

bool QtPlatform::fileExists(const QString& path) { return QFileInfo(path).isFile(); }

QString QtPlatform::currentDirectory() { return QDir::currentPath(); }

void setApplicationTitle(const QString& title) { g_applicationTitle = title; }

QString applicationTitle() { return g_applicationTitle; }

QString reportText(const std::exception& e) {
  QString text = QString::fromLocal8Bit(e.what());
  const auto* image = dynamic_cast<const velIPL::IPLException*>(&e);
  if (image && image->systemError() != 0) {
    text += QStringLiteral(": ") + QString::fromLocal8Bit(velIPL::systemErrorText(image->systemError()).c_str());
  }
  return text;
}

}  // namespace lumifold
