#include "storage/Record.h"
