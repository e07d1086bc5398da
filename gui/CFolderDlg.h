// The dialog "Verzeichnis umwandeln": the source and destination folders of a
// directory conversion, chosen in two folder trees, and whether to ask before
// each file and to mail the results. The caller sets the four public values,
// runs the dialog and, on QDialog::Accepted, takes them back.
//
// With m_sourceFiles set, the dialog offers to convert just these files (several
// pictures dropped onto the program): the source side lists them instead of the
// folder tree, and m_strSourceDir is left as it was.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class CFolderPicker;
class QCheckBox;
class QLabel;
class QLineEdit;

class CFolderDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CFolderDlg(QWidget* parent = nullptr);

    // Puts the values into the controls and presets both trees; runs once, when
    // the dialog is first shown.
    void OnInitDialog();

    // A picker reported `path`: 1060 writes it into the source field 1021, 1061
    // into the destination field 1022; any other id changes nothing. Returns 1.
    int OnFolderSelected(int controlId, const QString& path);

    int m_bAskEachFile = 0;
    int m_bMailAfter = 0;
    QString m_strSourceDir;
    QString m_strDestDir;
    QStringList m_sourceFiles;
    // What the conversion will do to each picture, one line under the trees.
    QString m_strSettings;

public slots:
    // Takes the values from the controls: the paths exactly as the fields show them.
    void accept() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void showSourceFiles();

    CFolderPicker* m_wndDestPicker = nullptr;
    CFolderPicker* m_wndSourcePicker = nullptr;
    QCheckBox* m_wndAskEachFile = nullptr;
    QCheckBox* m_wndMailAfter = nullptr;
    QLineEdit* m_wndSourcePath = nullptr;
    QLineEdit* m_wndDestPath = nullptr;
    QLabel* m_wndSourceLabel = nullptr;
    QLabel* m_wndSettings = nullptr;
    bool m_initialised = false;
};
