#include "controller/cyclehooks.h"
#include "frame/operatorprompt.h"

CycleHooks::~CycleHooks() = default;

void CycleHooks::notice(int msg)
{
    tellOperator(msg);
}
