#include "common/canvas.h"
#include "common/screen_metrics.h"

int screenWidth;
int screenHeight;
int centreX;
int centreY;

HDC memoryDC;
HBITMAP bitmap;
