#include "search/tuning.h"

constinit const searchTables handSearch::t = makeSearchTables(handSearch::v);
#ifdef DRAVLIN_TUNE
constinit netSearchState netSearchTuned;
#else
constinit const searchTables netSearch::t = makeSearchTables(netSearch::v);
#endif
