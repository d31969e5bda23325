#pragma once

// One judged ROI as the network side receives it: nine 32-bit ints in this order.
struct param_roi
{
    int camera = 0;
    int detect = 0;
    int roi = 0;
    int funcType = 0;
    int value = 0;
    int lower = 0;
    int upper = 0;
    int third = 0;
    int ok = 0;
};
