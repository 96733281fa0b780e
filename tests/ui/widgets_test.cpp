// The widgets the two windows are built from.
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include "jobs/device_report.h"
#include "tests/ui/ui_support.h"
#include "ui/auto_menu_button.h"
#include "ui/list_impl.h"
#include "ui/mru_combo.h"
#include "ui/status_bar.h"

// A job that tells when it is destroyed.
class CCountedJob : public CDeviceReport {
 public:
  ~CCountedJob() override {
    if (destroyed) *destroyed = true;
  }
  bool* destroyed = nullptr;
};

class WidgetsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { registry_ = std::make_unique<TestRegistry>(); }
  void cleanup() { registry_.reset(); }

  void checkCellsToggleByTheirNumber() {
    CListImpl list;
    list.AddColumn("", 21, CellFormat::Check);
    list.AddColumn("text", 100, CellFormat::Text);
    const char* before[] = {"1", "0", "7", "", "x", "-3"};
    const char* after[] = {"0", "1", "0", "1", "1", "1"};
    for (const char* text : before) list.AddItem(text);
    list.resize(300, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int row = 0; row < 6; ++row) {
      QRect cell = list.visualRect(list.model()->index(row, 0));
      QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, cell.center());
      QCOMPARE(list.GetItemText(row, 0), QString(after[row]));
    }
    // A text cell is not a check cell.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(0, 1)).center());
    QCOMPARE(list.GetItemText(0, 1), QString());
  }

  void cellColoursAreColorRefs() {
    CListImpl list;
    list.AddColumn("a", 50, CellFormat::Text);
    list.AddColumn("b", 50, CellFormat::Text);
    list.AddItem("x");
    list.SetItemColours(0, 1, 0xFFFFFF, 0x0000FF);
    QModelIndex coloured = list.model()->index(0, 1);
    QCOMPARE(list.model()->data(coloured, Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(list.model()->data(coloured, Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));
    QVERIFY(!list.model()->data(list.model()->index(0, 0), Qt::ForegroundRole).isValid());
    // Colours stay with the cell when its text changes.
    list.SetItemText(0, 1, "failed");
    QCOMPARE(list.model()->data(coloured, Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
  }

  void rowsHoldAJobReferenceUntilRemoved() {
    CListImpl list;
    list.AddColumn("a", 50, CellFormat::Text);
    int row = list.AddItem("x");
    int other = list.AddItem("y");
    QCOMPARE(list.GetItemData(row), nullptr);
    bool destroyed = false;
    CComObject<CCountedJob>* job = nullptr;
    QCOMPARE(CComObject<CCountedJob>::CreateInstance(&job), S_OK);
    job->destroyed = &destroyed;
    {
      ComPtr<IDeviceReport> mine(job);
      list.SetItemData(row, job);
      QCOMPARE(list.GetItemData(row), static_cast<IDeviceReport*>(job));
      QCOMPARE(list.GetItemData(other), nullptr);
    }
    QVERIFY(!destroyed);  // the row keeps its own reference
    list.SetItemData(row, list.GetItemData(row));  // storing the same job again keeps it
    QVERIFY(!destroyed);
    QCOMPARE(list.GetItemData(row)->IsCompleted(), TRUE);
    list.DeleteAllItems();
    QCOMPARE(list.GetItemCount(), 0);
    QVERIFY(destroyed);  // released with its row
  }

  void mruComboIsNewestFirstAndKeepsItsText() {
    CMruComboCtrl combo;
    combo.SetText("typed");
    for (int k = 1; k <= 7; ++k) QVERIFY(combo.AddToMru(QString("/f%1").arg(k)));
    QCOMPARE(combo.count(), 6);
    QCOMPARE(combo.itemText(0), QString("/f7"));
    QCOMPARE(combo.itemText(5), QString("/f2"));
    QCOMPARE(combo.Text(), QString("typed"));
    // A case-only duplicate moves to the top instead of being added twice.
    QVERIFY(combo.AddToMru("/F3"));
    QCOMPARE(combo.count(), 6);
    QCOMPARE(combo.itemText(0), QString("/F3"));
    QVERIFY(!combo.AddToMru(QString(256, 'a')));
    QVERIFY(!combo.AddToMru(""));
    QVERIFY(combo.SaveMru("SearchPath"));

    CMruComboCtrl reloaded;
    reloaded.SetText("kept");
    QVERIFY(reloaded.LoadMru("SearchPath"));
    QCOMPARE(reloaded.count(), 6);
    QCOMPARE(reloaded.itemText(0), QString("/F3"));
    QCOMPARE(reloaded.Text(), QString("kept"));
    QCOMPARE(QString::fromStdString(ReadSetting("SearchPath", "")), QString("/F3"));
  }

  void splitButtonMenuStartsWithItsOwnCommand() {
    QMenu options("options");
    QAction* advanced = options.addAction("advanced");
    CAutoMenuButton button("browse");
    button.SetMenu(&options);
    QList<QAction*> items = button.Popup()->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0]->text(), QString("browse"));
    QVERIFY(items[0]->font().bold());
    QCOMPARE(button.Popup()->defaultAction(), items[0]);
    QCOMPARE(items[1], advanced);

    QSignalSpy command(&button, &CAutoMenuButton::Command);
    button.click();
    items[0]->trigger();
    QCOMPARE(command.count(), 2);
    QSignalSpy advancedSpy(advanced, &QAction::triggered);
    items[1]->trigger();
    QCOMPARE(advancedSpy.count(), 1);
    QCOMPARE(command.count(), 2);
    // A second menu replaces the first's items.
    QMenu other;
    other.addAction("other");
    button.SetMenu(&other);
    QCOMPARE(button.Popup()->actions().size(), 2);
    QCOMPARE(button.Popup()->actions()[1]->text(), QString("other"));
  }

  void statusBarPanes() {
    CMPSBarWithProgress bar;
    bar.resize(800, 30);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QCOMPARE(bar.Progress()->width(), 250);
    QCOMPARE(bar.Progress()->minimum(), 0);
    QCOMPARE(bar.Progress()->maximum(), 100);
    bar.SetPaneText(CMPSBarWithProgress::kMessagePane, "hello");
    bar.SetPaneText(CMPSBarWithProgress::kTimePane, "   3s");
    QCOMPARE(bar.GetPaneText(CMPSBarWithProgress::kMessagePane), QString("hello"));
    QCOMPARE(bar.GetPaneText(CMPSBarWithProgress::kTimePane), QString("   3s"));
    QCOMPARE(bar.GetPaneText(CMPSBarWithProgress::kProgressPane), QString());
  }

 private:
  std::unique_ptr<TestRegistry> registry_;
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
