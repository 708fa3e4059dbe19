#include "platform/fake/FakeSettingsOpener.h"

void FakeSettingsOpener::open(Pane pane)
{
    opened << pane;
}
