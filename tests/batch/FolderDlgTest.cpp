// The dialog "Verzeichnis umwandeln" and its folder trees: presets, the
// folder-selected reports, the values taken over on OK and left alone on
// "Abbrechen", and "/V" opening the dialog on the given folder.
#include "BatchTestSupport.h"
#include "CFolderDlg.h"
#include "CFolderPicker.h"
#include "RecordingMessageSink.h"
#include "resource.h"

#include <QCheckBox>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

using namespace batchtest;

namespace {

// An owner that records the folder-selected reports it receives.
class ReportRecorder final : public QObject
{
public:
    QList<QPair<int, QString>> reports;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != FolderSelectedEvent::kType)
            return QObject::event(event);
        const auto* selected = static_cast<FolderSelectedEvent*>(event);
        reports.append({selected->controlId(), selected->path()});
        return true;
    }
};

QString selectedPath(const CFolderPicker& picker)
{
    const auto* model = qobject_cast<QFileSystemModel*>(picker.tree()->model());
    return model->filePath(picker.tree()->currentIndex());
}

// Picks `path` as the user does: a click on its row of the shown tree.
void select(CFolderPicker& picker, const QString& path)
{
    QTreeView* tree = picker.tree();
    const QModelIndex index = qobject_cast<QFileSystemModel*>(tree->model())->index(path);
    tree->scrollTo(index);
    const QRect row = tree->visualRect(index).intersected(tree->viewport()->rect());
    QVERIFY(!row.isEmpty());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
}

QStringList subfolders(const CFolderPicker& picker, const QString& folder)
{
    const auto* model = qobject_cast<QFileSystemModel*>(picker.tree()->model());
    QStringList names;
    for (int row = 0; row < model->rowCount(model->index(folder)); ++row)
        names << model->index(row, 0, model->index(folder)).data().toString();
    names.sort();
    return names;
}

} // namespace

class FolderDlgTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_box;

private slots:
    void init()
    {
        m_box = std::make_unique<Sandbox>();
        QVERIFY(m_box->isValid());
    }

    void cleanup() { m_box.reset(); }

    void pickerShowsFoldersOnlyAndReportsEachSelection()
    {
        const QString root = m_box->folder(QStringLiteral("baum"));
        m_box->folder(QStringLiteral("baum/eins"));
        m_box->folder(QStringLiteral("baum/zwei"));
        writePicture(root + QStringLiteral("/bild.jpg"));

        CFolderPicker picker(IDC_FOLDER_DEST_TREE);
        ReportRecorder owner;
        picker.setOwner(&owner);
        picker.SetPath(root);
        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        QCOMPARE(selectedPath(picker), root);
        QCOMPARE(picker.path(), root);
        QVERIFY(owner.reports.isEmpty()); // presetting is no selection of the user's

        const auto* model = qobject_cast<QFileSystemModel*>(picker.tree()->model());
        const QModelIndex folder = model->index(root);
        // Two folders and a picture: the picture is not in the tree.
        QTRY_COMPARE(model->rowCount(folder), 2);

        select(picker, root + QStringLiteral("/zwei"));
        select(picker, QDir::rootPath());
        QCOMPARE(owner.reports,
                 (QList<QPair<int, QString>>{{IDC_FOLDER_DEST_TREE, root + QStringLiteral("/zwei")},
                                             {IDC_FOLDER_DEST_TREE, QDir::rootPath()}}));
        QCOMPARE(picker.path(), QDir::rootPath());
    }

    // The model moves the current row by itself (the watcher reports folders
    // gone, new or renamed; a reload sorts anew): only the user's picks count.
    void pathsChangeOnlyWithTheUsersPick()
    {
        const QString root = m_box->folder(QStringLiteral("baum"));
        const QStringList names{"a", "b", "c", "d"};
        for (const QString& name : names)
            m_box->folder(QStringLiteral("baum/") + name);
        CFolderDlg dialog;
        dialog.m_strSourceDir = root + QStringLiteral("/b");
        dialog.m_strDestDir = root + QStringLiteral("/c");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* source = control<CFolderPicker>(&dialog, IDC_FOLDER_SOURCE_TREE);
        auto* dest = control<CFolderPicker>(&dialog, IDC_FOLDER_DEST_TREE);
        QTRY_COMPARE(subfolders(*source, root), names);
        QTRY_COMPARE(subfolders(*dest, root), names);

        // Both selected folders go, with their neighbours.
        QDir folder(root);
        QVERIFY(folder.rmdir("a") && folder.rmdir("b") && folder.rmdir("c"));
        QVERIFY(folder.rename("d", "e") && folder.mkdir("f"));
        for (CFolderPicker* picker : {source, dest}) {
            QTRY_COMPARE_WITH_TIMEOUT(subfolders(*picker, root), QStringList({"e", "f"}), 10000);
            auto* model = qobject_cast<QFileSystemModel*>(picker->tree()->model());
            QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
            model->setRootPath(root);
            model->setRootPath(QDir::rootPath());
            QTRY_VERIFY_WITH_TIMEOUT(loaded.contains({QDir::rootPath()}), 10000);
        }
        QCoreApplication::processEvents();
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_SOURCE_PATH)->text(), root + "/b");
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_DEST_PATH)->text(), root + "/c");
        QCOMPARE(source->path(), root + "/b");
        QCOMPARE(dest->path(), root + "/c");

        select(*source, root + "/e");
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_SOURCE_PATH)->text(), root + "/e");
        QTest::keyClick(source->tree(), Qt::Key_Down);
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_SOURCE_PATH)->text(), root + "/f");
        QCOMPARE(source->path(), root + "/f");
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_DEST_PATH)->text(), root + "/c");
    }

    void reportsGoIntoTheirPathFields_data()
    {
        QTest::addColumn<int>("controlId");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::newRow("source tree") << int(IDC_FOLDER_SOURCE_TREE) << "/neu"
                                     << "/ziel";
        QTest::newRow("destination tree") << int(IDC_FOLDER_DEST_TREE) << "/quelle"
                                          << "/neu";
        QTest::newRow("other id") << 1059 << "/quelle"
                                  << "/ziel";
    }

    void reportsGoIntoTheirPathFields()
    {
        QFETCH(int, controlId);
        QFETCH(QString, source);
        QFETCH(QString, destination);
        CFolderDlg dialog;
        dialog.m_strSourceDir = QStringLiteral("/quelle");
        dialog.m_strDestDir = QStringLiteral("/ziel");
        dialog.OnInitDialog();
        FolderSelectedEvent report(controlId, QStringLiteral("/neu"));
        QCoreApplication::sendEvent(&dialog, &report);
        QVERIFY(report.isAccepted()); // the handler's 1
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_SOURCE_PATH)->text(), source);
        QCOMPARE(control<QLineEdit>(&dialog, IDC_FOLDER_DEST_PATH)->text(), destination);
        QVERIFY(control<QLineEdit>(&dialog, IDC_FOLDER_SOURCE_PATH)->isReadOnly());
        QVERIFY(control<QLineEdit>(&dialog, IDC_FOLDER_DEST_PATH)->isReadOnly());
    }

    void okTakesTheChosenValuesAndAbbrechenNone_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("OK") << int(IDOK);
        QTest::newRow("Abbrechen") << int(IDCANCEL);
    }

    void okTakesTheChosenValuesAndAbbrechenNone()
    {
        QFETCH(int, button);
        const QString source = m_box->folder(QStringLiteral("quelle"));
        const QString target = m_box->folder(QStringLiteral("ziel"));
        const QString otherSource = m_box->folder(QStringLiteral("andere"));
        const QString otherTarget = m_box->folder(QStringLiteral("woanders"));
        RecordingMessageSink messages;

        CImageDlg window(m_box->settings());
        window.values().m_strSourceDir = source;
        window.values().m_strDestDir = target;
        window.values().m_bAskEachFile = 0;
        window.values().m_bMailAfter = 1;
        QString shownSource;
        QString shownTarget;
        whenDialogShown<CFolderDlg>([&](CFolderDlg* dialog) {
            shownSource = selectedPath(*control<CFolderPicker>(dialog, IDC_FOLDER_SOURCE_TREE));
            shownTarget = selectedPath(*control<CFolderPicker>(dialog, IDC_FOLDER_DEST_TREE));
            select(*control<CFolderPicker>(dialog, IDC_FOLDER_SOURCE_TREE), otherSource);
            select(*control<CFolderPicker>(dialog, IDC_FOLDER_DEST_TREE), otherTarget);
            control<QCheckBox>(dialog, IDC_FOLDER_ASK_EACH_FILE)->click();
            control<QCheckBox>(dialog, IDC_FOLDER_MAIL_AFTER)->click();
            control<QPushButton>(dialog, button)->click();
        });
        window.OnConvertDirectory();
        QCOMPARE(shownSource, source);
        QCOMPARE(shownTarget, target);

        const bool ok = button == IDOK;
        QCOMPARE(window.values().m_strSourceDir, ok ? otherSource : source);
        QCOMPARE(window.values().m_strDestDir, ok ? otherTarget : target);
        QCOMPARE(window.values().m_bAskEachFile, ok ? 1 : 0);
        QCOMPARE(window.values().m_bMailAfter, ok ? 0 : 1);
        QCOMPARE(window.IsBatchRunning(), ok);
        // The empty folder gives a batch without files and without a question.
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBatchRunning(), 30000);
        QCOMPARE(messages.messages().size(), size_t(ok ? 1 : 0));
    }

    void commandLineFolderOpensTheDialogOnIt()
    {
        const QString folder = m_box->folder(QStringLiteral("Meine Bilder"));
        CImageDlg window(m_box->settings());
        window.values().m_strDestDir = m_box->folder(QStringLiteral("ziel"));
        window.setCommandLine({QStringLiteral("/V"), folder}, m_box->path(QString()));
        QString shownSource;
        QString shownTarget;
        whenDialogShown<CFolderDlg>([&](CFolderDlg* dialog) {
            shownSource = control<QLineEdit>(dialog, IDC_FOLDER_SOURCE_PATH)->text();
            shownTarget = control<QLineEdit>(dialog, IDC_FOLDER_DEST_PATH)->text();
            dialog->reject();
        });
        window.OnCommandLine();
        QTRY_COMPARE(shownSource, folder);
        QCOMPARE(shownTarget, window.values().m_strDestDir);
        QVERIFY(!window.IsBatchRunning());
    }
};

QTEST_MAIN(FolderDlgTest)
#include "FolderDlgTest.moc"
