#include "tray/services/tests/support/faulty_fs.h"
