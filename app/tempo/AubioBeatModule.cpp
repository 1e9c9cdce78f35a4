// The loadable module around aubio's tempo tracker: the only code that links aubio.
#include <aubio/aubio.h>

#include "app/tempo/BeatModule.h"

namespace {

struct Tracker {
    aubio_tempo_t* tempo;
    fvec_t* in;
    fvec_t* out;
};

void* create(unsigned windowFrames, unsigned hopFrames, unsigned rate) {
    aubio_tempo_t* tempo = new_aubio_tempo("default", windowFrames, hopFrames, rate);
    if (tempo == nullptr) {
        return nullptr;
    }
    // Its own silence gate drops beats that fall on a quiet hop just before a hit.
    aubio_tempo_set_silence(tempo, -120.0f);
    return new Tracker{tempo, new_fvec(hopFrames), new_fvec(1)};
}

void destroy(void* opaque) {
    auto* tracker = static_cast<Tracker*>(opaque);
    del_aubio_tempo(tracker->tempo);
    del_fvec(tracker->in);
    del_fvec(tracker->out);
    delete tracker;
}

long long step(void* opaque, const float* hop) {
    auto* tracker = static_cast<Tracker*>(opaque);
    for (uint_t frame = 0; frame < tracker->in->length; ++frame) {
        tracker->in->data[frame] = hop[frame];
    }
    aubio_tempo_do(tracker->tempo, tracker->in, tracker->out);
    if (tracker->out->data[0] == 0.0f) {
        return -1;
    }
    return static_cast<long long>(aubio_tempo_get_last(tracker->tempo));
}

double period(void* opaque) {
    return aubio_tempo_get_period_s(static_cast<Tracker*>(opaque)->tempo);
}

constexpr KestranoBeatFunctions functions{kestranoBeatFunctionsVersion, create, destroy, step,
                                          period};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KestranoBeatFunctions*
kestrano_beat_functions(void) {
    return &functions;
}
