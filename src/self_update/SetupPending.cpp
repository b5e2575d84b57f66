// Smallest body of the application's window setup, which the install work builds: it only logs
// what it would start.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::StartSetupWithWindow() { KVA_LOG_WARN("StartSetupWithWindow is not built here"); }
