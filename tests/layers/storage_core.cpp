#include "core/Result.h"
#include "storage/Record.h"

#include <QString>

int probe()
{
    return kav::Error{}.message.size();
}
