#include "ui/run_verdict.h"

#include "platform/format.h"
#include "ui/list_impl.h"

namespace {
constexpr char kVerdictFormat[] = "完成: %d 台设备成功, %d 台失败";
}

RunCount CountRun(const CListImpl& list) {
  RunCount count;
  for (int row = 0; row < list.GetItemCount(); ++row) {
    IDeviceReport* job = list.GetItemData(row);
    if (!job) continue;
    if (job->HasError()) ++count.failed;
    else ++count.succeeded;
  }
  return count;
}

QString VerdictText(const RunCount& count) {
  return QString::fromStdString(Format(kVerdictFormat, count.succeeded, count.failed));
}
