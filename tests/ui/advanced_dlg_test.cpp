// The advanced settings dialog over a settings block.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "tests/ui/ui_support.h"
#include "ui/advanced_dlg.h"
#include "ui/dialog_units.h"

namespace {

// Browsing answers from a script instead of a file dialog.
class ScriptedAdvancedDlg : public CAdvancedDlg {
 public:
  using CAdvancedDlg::CAdvancedDlg;
  QString answer;
  QString askedWith;

 protected:
  QString ChooseFile(const QString& initial) override {
    askedWith = initial;
    return answer;
  }
};

std::string Stored(const SettingName& s) { return ReadSetting(s); }

}  // namespace

class AdvancedDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { registry_ = std::make_unique<TestRegistry>(); }
  void cleanup() { registry_.reset(); }

  void opensWithTheBlockInRowOrder() {
    FileSettings block;
    block.fastbootScript = "other.sh";
    CAdvancedDlg dialog(&block, nullptr);
    QCOMPARE(dialog.windowTitle(), QString("Advanced"));
    QCOMPARE(dialog.Combo(0)->Text(), QString("kelva-factory.qcn"));
    QCOMPARE(dialog.Combo(1)->Text(), QString("other.sh"));
    QCOMPARE(dialog.Combo(5)->Text(), QString("patch0.xml"));
    QCOMPARE(dialog.Combo(6)->Text(), QString("prog_*firehose*"));
    QCOMPARE(dialog.Combo(7)->Text(), QString());  // the package decides
    QCOMPARE(dialog.Combo(2)->objectName(), QString("1014"));
    QVERIFY(dialog.findChild<QPushButton*>("1015"));
    QVERIFY(dialog.findChild<QPushButton*>("1023"));
    QVERIFY(!dialog.findChild<QPushButton*>("1025"));  // a storage type is not browsed for
    QVERIFY(dialog.findChild<QPushButton*>("1")->isDefault());
  }

  void everyControlSitsWhereItsDialogUnitsPutIt() {
    FileSettings block;
    CAdvancedDlg dialog(&block, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    DialogUnits du(dialog.font());
    auto at = [&](int left, int top, int width, int height) {
      return QRect(du.x(left), du.y(top), du.x(width), du.y(height));
    };
    QCOMPARE(dialog.size(), QSize(du.x(350), du.y(190)));
    QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 8);
    for (int k = 0; k < 8; ++k) {
      int top = 8 + 20 * k;
      QCOMPARE(labels[k]->text(), QString::fromUtf8(CAdvancedDlg::kRows[k].label));
      QCOMPARE(labels[k]->geometry(), at(7, top, 58, 14));
      QCOMPARE(dialog.Combo(k)->geometry(), at(80, top, 198, 14));
      if (!CAdvancedDlg::kRows[k].file) continue;
      QCOMPARE(dialog.findChild<QPushButton*>(QString::number(CAdvancedDlg::kRows[k].comboId + 1))->geometry(),
               at(293, top, 50, 14));
    }
    QCOMPARE(dialog.findChild<QPushButton*>("1")->geometry(), at(228, 169, 50, 14));
    QCOMPARE(dialog.findChild<QPushButton*>("2")->geometry(), at(293, 169, 50, 14));
    // No control overlaps another or leaves the dialog, and each label's
    // text fits its width.
    QList<QWidget*> controls;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!w->isWindow()) controls << w;
    QCOMPARE(controls.size(), 8 + 8 + 7 + 2);
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY(dialog.rect().contains(controls[i]->geometry()));
      for (int j = i + 1; j < controls.size(); ++j)
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(controls[i]->objectName() + " " + controls[j]->objectName()));
    }
    for (QLabel* label : labels)
      QVERIFY2(label->fontMetrics().horizontalAdvance(label->text().remove('&')) <= label->width(),
               qPrintable(label->text()));
  }

  // Only OK stores: an edit cancelled is neither used now nor read back at
  // the next start of the program.
  void cancelChangesNeitherTheBlockNorTheStoredLists() {
    {
      FileSettings earlier;
      earlier.nvItemFile = "old.qcn";
      CAdvancedDlg seed(&earlier, nullptr);
      seed.accept();
    }
    FileSettings block;
    FileSettings original = block;
    {
      CAdvancedDlg dialog(&block, nullptr);
      QCOMPARE(dialog.Combo(0)->count(), 1);  // the list of the earlier opening
      dialog.Combo(1)->SetText("edited.sh");
      dialog.Combo(0)->SetText("cancelled.qcn");
      dialog.reject();
    }
    QCOMPARE(block.fastbootScript, original.fastbootScript);
    QCOMPARE(block.nvItemFile, original.nvItemFile);
    // What the next start of the program reads.
    QCOMPARE(Stored(kBatchFileSetting), std::string("flash_all.sh"));
    QCOMPARE(Stored(kNvItemFileSetting), std::string("old.qcn"));
    MruList nv;
    QVERIFY(LoadMru(&nv, "NvItemFile"));
    QCOMPARE(nv.NewestFirst(), (std::vector<std::string>{"old.qcn"}));
  }

  void okWritesTheBlockAndAnEmptyFieldMakesNoEntry() {
    FileSettings block;
    {
      CAdvancedDlg dialog(&block, nullptr);
      dialog.Combo(0)->SetText("");
      dialog.Combo(4)->SetText("/abs/raw.xml");
      dialog.accept();
    }
    QCOMPARE(block.nvItemFile, std::string());
    QCOMPARE(block.rawprogramXml, std::string("/abs/raw.xml"));
    QCOMPARE(Stored(kRawFileSetting), std::string("/abs/raw.xml"));
    // No entry for the empty text: after a restart the default is the value.
    QCOMPARE(Stored(kNvItemFileSetting), std::string("kelva-factory.qcn"));
  }

  void aTooLongTextStopsReadingAtItsRow() {
    FileSettings block;
    CAdvancedDlg dialog(&block, nullptr);
    dialog.Combo(1)->SetText("first.sh");
    QString tooLong = QString("/") + QString(299, QChar(0x5237));  // 300 characters, none ASCII
    dialog.Combo(2)->SetText(tooLong);
    dialog.Combo(3)->SetText("after.mbn");
    dialog.accept();
    QCOMPARE(block.fastbootScript, std::string("first.sh"));
    QCOMPARE(QString::fromStdString(block.flashProgrammer), tooLong.left(259));
    QCOMPARE(block.bootImage, std::string("8660_msimage.mbn"));
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.Combo(2)));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  // The Firehose programmer and storage type: stored by OK as the newest
  // entries of their lists, read back by the next start; Cancel stores
  // neither; an empty storage type is the automatic default again after a
  // restart.
  void theFirehoseBoxesAreStoredOnOkOnly() {
    FileSettings block;
    {
      CAdvancedDlg dialog(&block, nullptr);
      QVERIFY(!dialog.Combo(7)->lineEdit()->placeholderText().isEmpty());
      dialog.Combo(6)->SetText("prog_ufs_firehose_sm8550.elf");
      dialog.Combo(7)->SetText("Ufs");
      dialog.reject();
    }
    QCOMPARE(block.firehoseProgrammer, std::string("prog_*firehose*"));
    QCOMPARE(block.firehoseMemory, std::string());
    QCOMPARE(Stored(kFirehoseProgrammerSetting), std::string("prog_*firehose*"));
    QCOMPARE(Stored(kFirehoseMemorySetting), std::string());
    MruList memory;
    QVERIFY(!LoadMru(&memory, kFirehoseMemorySetting.name));  // nothing was written

    for (const char* type : {"eMMC", "Ufs"}) {
      CAdvancedDlg dialog(&block, nullptr);
      dialog.Combo(6)->SetText("prog_ufs_firehose_sm8550.elf");
      dialog.Combo(7)->SetText(type);
      dialog.accept();
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(block.firehoseProgrammer, std::string("prog_ufs_firehose_sm8550.elf"));
    QCOMPARE(block.firehoseMemory, std::string("Ufs"));
    QCOMPARE(Stored(kFirehoseProgrammerSetting), std::string("prog_ufs_firehose_sm8550.elf"));
    QCOMPARE(Stored(kFirehoseMemorySetting), std::string("Ufs"));
    {
      CAdvancedDlg dialog(&block, nullptr);
      QCOMPARE(dialog.Combo(7)->count(), 2);  // the list offers both types, newest first
      QCOMPARE(dialog.Combo(7)->itemText(0), QString("Ufs"));
      dialog.Combo(7)->SetText("");
      dialog.accept();
    }
    QCOMPARE(block.firehoseMemory, std::string());
    QCOMPARE(Stored(kFirehoseMemorySetting), std::string());
  }

  // A storage type that is neither eMMC nor UFS is refused by OK: the dialog
  // stays open with the focus on it, and nothing is taken or stored.
  void anUnknownStorageTypeKeepsTheDialogOpen() {
    FileSettings block;
    CAdvancedDlg dialog(&block, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.Combo(0)->SetText("new.qcn");
    dialog.Combo(7)->SetText("nand");
    dialog.findChild<QPushButton*>("1")->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.Combo(7)));
    QCOMPARE(block.nvItemFile, std::string("kelva-factory.qcn"));
    QCOMPARE(Stored(kNvItemFileSetting), std::string("kelva-factory.qcn"));
    QCOMPARE(Stored(kFirehoseMemorySetting), std::string());
    dialog.Combo(7)->SetText("UFS");
    dialog.findChild<QPushButton*>("1")->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(block.firehoseMemory, std::string("UFS"));
    QCOMPARE(block.nvItemFile, std::string("new.qcn"));
  }

  void dropsTakeTheFirstExistingPath() {
    TempDir dir;
    std::filesystem::create_directories(dir / "folder");
    WriteFile(dir / "file.hex", "x");
    FileSettings block;
    CAdvancedDlg dialog(&block, nullptr);
    dialog.Combo(2)->OnDropFiles({QString::fromStdString(dir / "folder")});
    QCOMPARE(dialog.Combo(2)->Text().toStdString(), dir / "folder");
    dialog.Combo(2)->OnDropFiles({QString::fromStdString(dir / "missing"), QString::fromStdString(dir / "file.hex"),
                                  QString::fromStdString(dir / "folder")});
    QCOMPARE(dialog.Combo(2)->Text().toStdString(), dir / "file.hex");
    dialog.Combo(2)->OnDropFiles({QString::fromStdString(dir / "missing")});
    QCOMPARE(dialog.Combo(2)->Text().toStdString(), dir / "file.hex");
  }

  void aRealDropIsTakenOnlyByTheFieldUnderIt() {
    TempDir dir;
    WriteFile(dir / "file.hex", "x");
    FileSettings block;
    CAdvancedDlg dialog(&block, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QStringList paths = {QString::fromStdString(dir / "missing"), QString::fromStdString(dir / "file.hex")};
    QLineEdit* field = dialog.Combo(2)->lineEdit();
    QVERIFY(DropOnto(&dialog, field->mapTo(&dialog, field->rect().center()), paths));
    QCOMPARE(dialog.Combo(2)->Text().toStdString(), dir / "file.hex");
    QCOMPARE(dialog.Combo(1)->Text(), QString("flash_all.sh"));
    // Beside the fields nothing takes it.
    QLabel* label = dialog.findChildren<QLabel*>()[3];
    QVERIFY(!DropOnto(&dialog, label->mapTo(&dialog, label->rect().center()), paths));
    QCOMPARE(dialog.Combo(3)->Text(), QString("8660_msimage.mbn"));
  }

  void browseStartsFromTheTextAndCancelChangesNothing() {
    FileSettings block;
    ScriptedAdvancedDlg dialog(&block, nullptr);
    dialog.answer = "/picked/boot.mbn";
    dialog.findChild<QPushButton*>("1017")->click();
    QCOMPARE(dialog.askedWith, QString("8660_msimage.mbn"));
    QCOMPARE(dialog.Combo(3)->Text(), QString("/picked/boot.mbn"));
    dialog.answer = "";
    dialog.OnBrowse(3);
    QCOMPARE(dialog.Combo(3)->Text(), QString("/picked/boot.mbn"));
  }

 private:
  std::unique_ptr<TestRegistry> registry_;
};

QTEST_MAIN(AdvancedDlgTest)
#include "advanced_dlg_test.moc"
