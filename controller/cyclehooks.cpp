#include "controller/cyclehooks.h"
#include "frame/operatorprompt.h"
#include "inspection/cammerrecong.h"

CycleHooks::~CycleHooks() = default;

void CycleHooks::notice(int msg)
{
    tellOperator(msg);
}

void inspectOnEngine(CammerRecong& engine, int d)
{
    engine.HomoTransShape(d);
    engine.ShapeMatch();
    engine.Run(d);
}
