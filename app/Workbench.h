#pragma once
// Workbench: the researcher's commands of free exploration, as application
// shortcuts of the main window.
//
//   Page Up / Page Down  the previous / next dataset (each keeps its own
//                        selection and history)
//   Ctrl+S               saves the selection: the particle indices as a
//                        target file (a study trial's targetFile as it is)
//                        and the selected positions as CSV, in the data
//                        file's own coordinates
//   Ctrl+O               loads a target file and highlights its particles,
//                        as a study presents a trial's target, until
//                        another is loaded or Ctrl+H switches it off
//   Home, + / -          the start view, zoom in / out (zoom also in a
//                        study that allows it)
//   [ / ], , / .         unselected particles smaller / larger, fainter /
//                        less faint
//
// Files are chosen in a file dialog, or, with a save folder (--save-dir),
// named "<dataset>-selection-<n>.txt" and ".csv" with the first n for which
// neither exists. An existing file is never overwritten without the
// dialog's confirmation; a taken CSV name refuses the save with a line.
// Each outcome is printed as one line and shown in the 3D area for a while.
//
// In a study or a replay the shortcuts do nothing: the trial decides what
// is shown. Cost: a save writes two lines per selected particle.
#include <QObject>
#include <QString>

#include <string>
#include <vector>

class QMainWindow;
class QTKelvoWidgetGL;
class QTimer;

class Workbench : public QObject {
    Q_OBJECT
public:
    // Adds its actions to `window`; `saveFolder` empty: file dialogs.
    Workbench(QMainWindow* window, QTKelvoWidgetGL* view, const QString& saveFolder);

    // Disabled: shortcuts do nothing (a study or a replay owns the view).
    void setEnabled(bool on) { enabled = on; }

    // The file names of the last successful save (empty before).
    const QString& lastTargetFile() const { return savedTargets; }
    const QString& lastPositionsFile() const { return savedPositions; }

    // The dataset a command line names: a loaded dataset of that name, a
    // loaded file that is the same file, another file (loaded now) or a
    // built-in (added now). -1 with `problem` when none fits.
    static int FindDataset(const std::string& nameOrFile, std::string& problem);

    // Writes the selection flagged in `mask` of dataset `nr`: indices to
    // `targetsPath`, positions to `positionsPath` (each created new unless
    // `replace` says the user agreed). Returns an empty string, or why not.
    static std::string WriteSelection(int nr, const std::vector<bool>& mask, const QString& targetsPath,
                                      const QString& positionsPath, bool replace);

public slots:
    void nextDataset();
    void previousDataset();
    void saveSelection();
    void loadTarget();
    void highlightOff();
    void startView();
    void zoomIn();
    void zoomOut();
    void smallerCloud();
    void largerCloud();
    void fainterCloud();
    void strongerCloud();

private:
    void zoomBy(double factor);
    void changeCloud(float sizeFactor, float opacityFactor);
    bool available() const;
    void stepDataset(int direction);
    // Prints the line and shows it in the 3D area for a few seconds.
    void tell(const std::string& line);

    QMainWindow* window;
    QTKelvoWidgetGL* view;
    QString saveFolder;
    bool enabled = true;
    QString savedTargets, savedPositions;
    QTimer* messageTimer;
    std::string shownMessage;
};
