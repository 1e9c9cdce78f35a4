// The loadable module around aubio's onset detection: the only code that links aubio.
#include <aubio/aubio.h>

#include "app/tempo/BeatModule.h"

namespace {

struct Detector {
    aubio_pvoc_t* spectrum;
    aubio_specdesc_t* flux;
    fvec_t* in;
    cvec_t* bins;
    fvec_t* out;
};

void* create(unsigned windowFrames, unsigned hopFrames, unsigned /*rate*/) {
    aubio_pvoc_t* spectrum = new_aubio_pvoc(windowFrames, hopFrames);
    // The rise of each frequency's magnitude, summed: kicks, snares and strums alike.
    aubio_specdesc_t* flux = new_aubio_specdesc("specflux", windowFrames);
    if (spectrum == nullptr || flux == nullptr) {
        if (spectrum != nullptr) {
            del_aubio_pvoc(spectrum);
        }
        if (flux != nullptr) {
            del_aubio_specdesc(flux);
        }
        return nullptr;
    }
    return new Detector{spectrum, flux, new_fvec(hopFrames), new_cvec(windowFrames), new_fvec(1)};
}

void destroy(void* opaque) {
    auto* detector = static_cast<Detector*>(opaque);
    del_aubio_pvoc(detector->spectrum);
    del_aubio_specdesc(detector->flux);
    del_fvec(detector->in);
    del_cvec(detector->bins);
    del_fvec(detector->out);
    delete detector;
}

float novelty(void* opaque, const float* hop) {
    auto* detector = static_cast<Detector*>(opaque);
    for (uint_t frame = 0; frame < detector->in->length; ++frame) {
        detector->in->data[frame] = hop[frame];
    }
    aubio_pvoc_do(detector->spectrum, detector->in, detector->bins);
    aubio_specdesc_do(detector->flux, detector->bins, detector->out);
    return detector->out->data[0];
}

constexpr KestranoBeatFunctions functions{kestranoBeatFunctionsVersion, create, destroy, novelty};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KestranoBeatFunctions*
kestrano_beat_functions(void) {
    return &functions;
}
