#include "sync/sync_view.h"

namespace kelvanor {

IExportProgress& SyncView::ExportProgress() {
  static SilentExportProgress silent;
  return silent;
}

}  // namespace kelvanor
