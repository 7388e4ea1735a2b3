#pragma once
// The clients-folder rule lives with the ERP tools; the tool server uses the same one.
#include "erp/WorkPaths.h"
