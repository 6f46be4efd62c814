// lumifold: the desktop program. Shows the splash, then the main window;
// files named on the command line are added as if dropped on the window.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <exception>
#include <string_view>

#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/pellora_window.h"
#include "app/platform.h"
#include "app/splash_screen.h"

namespace {

const char* const kApplicationTitle = "Lumifold 1.0";
const char* const kDescription =
    "Averages a series of OCT B-scans of one retinal section (BMP, PNG, TIFF or DICOM\n"
    "files of equal size) into one low-speckle picture. Files given here are added to\n"
    "the image list at start, in the order the list sorts them; the first is the\n"
    "reference image.";
const char* const kFilesArgument = "files";
const char* const kFilesHelp = "Image files (BMP, PNG, TIFF, DICOM) to add to the image list.";
const char* const kFilesSyntax = "[files...]";

int run(QApplication& app, const QStringList& files) {
  lumifold::QtPlatform platform;
  lumifold::TSplashScreen splashScreen(platform);
  splashScreen.show();
  QCoreApplication::processEvents();
  lumifold::setApplicationTitle(QString::fromUtf8(kApplicationTitle));

  lumifold::TMainPanel mainPanel(platform);
  lumifold::TImageViewer imageViewer(platform);
  lumifold::Tpellora pellora(platform);
  mainPanel.setCompanions(&imageViewer, &splashScreen, &pellora);
  QObject::connect(&mainPanel, &lumifold::TMainPanel::closed, &app, &QCoreApplication::quit);
  // The splash stays in front; a window system that ignores "on top" would
  // otherwise stack the main window over it, which a drop also raises.
  const auto keepSplashInFront = [&splashScreen] {
    if (splashScreen.isVisible()) splashScreen.raise();
  };
  mainPanel.show();
  keepSplashInFront();

  if (!files.isEmpty()) {
    QStringList paths;
    for (const QString& f : files) paths.push_back(QFileInfo(f).absoluteFilePath());
    QTimer::singleShot(0, &mainPanel, [&mainPanel, paths, keepSplashInFront] {
      mainPanel.filesDropped(paths);
      keepSplashInFront();
    });
  }
  return app.exec();
}

void describe(QCommandLineParser& parser) {
  QCoreApplication::setApplicationName(QStringLiteral("lumifold"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QString::fromUtf8(kFilesArgument), QString::fromUtf8(kFilesHelp),
                               QString::fromUtf8(kFilesSyntax));
}

// --help and --version answer without a display (for manual pages built on
// a machine without one, and for scripts); Qt's parser prints and exits.
bool asksForHelpOrVersion(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a(argv[i]);
    if (a == "--") return false;
    if (a == "-h" || a == "--help" || a == "-v" || a == "--version" || a == "-?") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (asksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(core);
    return 0;
  }
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("lumifold"));
  // The main window ends the program when it closes, even while the viewer
  // or the information window is still open.
  QApplication::setQuitOnLastWindowClosed(false);

  QCommandLineParser parser;
  describe(parser);
  parser.process(app);

  try {
    return run(app, parser.positionalArguments());
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kApplicationTitle), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kApplicationTitle), QString());
  }
  return 1;
}
