// TMainPanel: the main window - the "Process" page with the tool bar, the
// progress bar and the image list, the "Settings" page with the colour scale
// and the registration algorithm, and the menus.
//
// It owns the image list and the state of a run (mergedImage, busy, merged,
// lastInput, lastOutput) for the program's life. Settings are read when the
// window is made and written when it closes. Every change of the list clears
// merged and hides the viewer; while busy is set, the list commands do
// nothing. The processing command (RunButtonClick) merges only while merged
// is clear, on this thread, moving the progress bar as it goes, with the
// busy cursor shown and the user's input dropped (see MergeSession); it
// then colours the kept result with the selected scale and shows it in the
// viewer beside this window. A merge that fails is reported with the file
// it concerns and leaves the window as after a merge, merged still clear;
// one the user cancels with Escape does the same without a message.
//
// Below the two groups the Settings page offers frame quality, off by
// default: leaving out frames that do not fit, choosing the reference, and
// correcting sideways slips. The merge goes through the pipeline
// (pipeline/series_merge.h) as the command line's does; with any of these
// on, the rows show what the merge made of them (left out, greyed, with the
// reason as tool tip; the reference in bold; a slip) and the viewer a
// status line. "Set as reference" on a row's context menu moves it first.
// The handlers carry the names of the original form's handlers and may
// throw; the window catches at the event (menu, button, key, drop, close)
// and reports the message through the platform, so no exception reaches
// the event loop. The companion windows and the platform are the
// caller's and must outlive this window.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <map>

#include "app/image_list.h"
#include "ipl/images.h"
#include "pipeline/series_merge.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QTabWidget;
class QToolBar;
class QToolButton;

namespace lumifold {

class Platform;
class RadioGroup;
class StringGrid;
class TImageViewer;
class TSplashScreen;
class Tpellora;

class TMainPanel : public QMainWindow {
  Q_OBJECT

public:
  explicit TMainPanel(Platform& platform);
  ~TMainPanel() override;

  // The windows the commands show and hide; any may be null. The viewer is
  // told this is the window whose result it saves.
  void setCompanions(TImageViewer* imageViewer, TSplashScreen* splashScreen, Tpellora* pellora);

  int fileCount() const { return images.fileCount(); }

  // Validates paths in order and appends the acceptable ones: a path that is
  // no file gets a "No Sequence found" box and is skipped; the first file
  // refused stops the addition with the error dialog. Whatever happened,
  // the grid then shows the list, nothing is selected, merged is cleared and
  // the viewer hidden.
  void AddFiles(const QStringList& paths);
  // Files dropped on the window, or given on the command line: sorted,
  // added, and the window brought to the front. Ignored while busy.
  void WMDropFiles(const QStringList& paths);
  // WMDropFiles as the event of a drop runs it, reporting what it throws.
  void filesDropped(const QStringList& paths);
  void ClearFileSelection();
  // LoadSettings reads every value it can; one that cannot be read (not a
  // string, or not a whole number where one is due) keeps its default, and
  // SaveSettings leaves it stored as it is unless the user has chosen
  // something else meanwhile. LoadSettings then throws one SettingsError
  // naming each such value, a line each. A store that cannot be read at
  // all gives the defaults and a SettingsError naming it, and is not
  // written by SaveSettings while this window lives. SaveSettings throws
  // SettingsError for a value the store refuses, leaving the rest
  // unwritten.
  void LoadSettings();
  void SaveSettings();
  // Enables and disables the commands from busy: while a merge runs, the
  // list and the processing command are off.
  void updateActions();

  // The options the next merge is made with, from the Settings page.
  MergeOptions mergeOptions() const;
  // What the viewer's status line says about the kept result: the series,
  // the frames kept, the algorithm, the scale and, where measured, the SNR.
  QString resultDescription() const;
  // True when the kept result was made with a frame-quality option.
  bool resultMeasured() const { return mergeOutcome.measured; }

  QMenu* FileMenu;
  QMenu* MergingMenu;
  QMenu* HelpMenu;
  QAction* AddImages1;
  QAction* ClearList1;
  QAction* Exit1;
  QAction* ProcessImages1;
  QAction* About1;
  QAction* WebSite1;
  QAction* Whatispellora1;
  QAction* SetAsReference1;

  QTabWidget* PageControl1;
  QWidget* ProcessPage;
  QWidget* SettingsPage;
  QToolBar* ToolBar1;
  QToolButton* AddButton;
  QToolButton* ClearButton;
  QToolButton* RunButton;
  QToolButton* WebButton;
  QProgressBar* Progress;
  QFrame* Panel1;
  QLabel* Label1;
  StringGrid* FileList;
  RadioGroup* ColorScales;
  RadioGroup* Algorithm;
  QLabel* Image1;
  QLabel* Image2;
  QLabel* Image3;
  QLabel* Image4;
  QLabel* Image5;
  QLabel* Image6;
  QGroupBox* FrameQuality;
  QCheckBox* RejectFrames;
  QCheckBox* AutoReference;
  QCheckBox* LateralSlips;
  QCheckBox* SpeckleFilter;

  TImageViewer* ImageViewer = nullptr;
  TSplashScreen* SplashScreen = nullptr;
  Tpellora* pellora = nullptr;

  ImageList images;
  velIPL::GImage mergedImage;
  bool busy = false;
  bool merged = false;
  QString lastInput;
  QString lastOutput;
  // The last successful merge: its plan, options and outcome (what the
  // viewer's saves and status line read besides mergedImage).
  MergePlan mergePlan;
  MergeOptions mergeOptionsUsed;
  MergeOutcome mergeOutcome;

public slots:
  void AddImages1Click();
  void AddButtonClick();
  void ClearList1Click();
  void ClearButtonClick();
  void FileListKeyDown(int key, Qt::KeyboardModifiers modifiers);
  void RunButtonClick();
  void ColorScalesClick();
  void AlgorithmClick();
  void About1Click();
  void WebButtonClick();
  void Whatispellora1Click();
  void Exit1Click();
  // Moves the one selected row to the top, where it is the reference.
  void SetAsReference1Click();
  // A frame-quality option changed: the kept result is no longer the
  // list's; one that was shown is merged again at once.
  void FrameQualityClick();

signals:
  // The window has closed and saved its settings: the program ends.
  void closed();

protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void createActions();
  void createMenus();
  void createProcessPage();
  void createSettingsPage();
  void FormCreate();
  void FormClose();
  void showList();
  void listChanged();
  // Marks the rows with what the last merge made of them.
  void markRows();
  void showListMenu(const QPoint& at);
  // The merge step of RunButtonClick: merges the list with the selected
  // algorithm into mergedImage and sets merged. A merge that fails is
  // reported with the file it concerns, one cancelled is not; either
  // leaves merged clear and the window as after a merge, and returns false.
  bool mergeList();
  // Runs a handler at an event, reporting what it throws.
  template <typename F>
  void guarded(F&& handler);

  Platform& platform_;
  // The settings store could not be read at creation; it is not written.
  bool settingsUnreadable_ = false;
  // Values that could not be read at creation, each with the text that
  // stood in for it; SaveSettings does not write that text over them.
  std::map<QString, QString> unreadValues_;
  // The frame-quality values found in the store at creation; a value is
  // written back only when it was there or is on, so a store that never
  // had them keeps only the four values.
  std::map<QString, bool> storedOptions_;
  QAction* addButtonAction_;
  QAction* clearButtonAction_;
  QAction* runButtonAction_;
  QAction* webButtonAction_;
};

}  // namespace lumifold
