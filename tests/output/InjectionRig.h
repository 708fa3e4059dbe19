#pragma once

// The text injection service on fakes of everything it drives, all on one manual clock.
#include "output/TextInjectionService.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeKeySynth.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"

#include <memory>

struct InjectionRig {
    ManualClock clock;
    FakeAccessibility ax{clock};
    FakePasteboard pb;
    FakeKeySynth keys;
    std::unique_ptr<TextInjectionService> service;

    InjectionRig()
    {
        pb.clock = &clock;
        service = std::make_unique<TextInjectionService>(ax, pb, keys, clock);
    }
};
