#include "platform/fake/FakeKeySynth.h"

bool FakeKeySynth::postKey(quint16 keyCode, quint64 flags, bool keyDown)
{
    if (failPosting)
        return false;
    const Event event{keyCode, flags, keyDown};
    events.append(event);
    if (onPost)
        onPost(event);
    return true;
}
