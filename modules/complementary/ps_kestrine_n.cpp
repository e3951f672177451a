#include "deliverables.h"
#include "sem/entry.h"

SEM_EXPORT_MODULE(latch::PSKestrineNModule)
