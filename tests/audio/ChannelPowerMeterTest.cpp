#include "app/audio/level/ChannelPowerMeter.h"
#include "app/audio/level/LevelFigures.h"
#include "app/audio/level/MeterBank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <thread>
#include <vector>

namespace {

// `frames` frames of a 1 kHz sine at 48 kHz, one amplitude per channel, interleaved.
std::vector<float> sine(std::size_t frames, const std::vector<float>& amplitudes) {
    std::vector<float> samples;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 48000.0;
        for (float amplitude : amplitudes) {
            samples.push_back(static_cast<float>(amplitude * std::sin(phase)));
        }
    }
    return samples;
}

TEST(ChannelPowerMeterTest, SineReadsItsAveragePowerAndSamplePeakPerChannel) {
    ChannelPowerMeter meter;
    meter.reset(3);
    // Full scale, -6 dBFS peak and half of that again, over whole periods.
    const auto samples = sine(480, {1.0f, 0.501187f, 0.250594f});
    meter.accumulate(samples.data(), 480, 3);
    const auto reading = meter.take();
    ASSERT_EQ(reading.averagePower.size(), 3u);
    EXPECT_NEAR(reading.averagePower[0], -3.01f, 0.01f);
    EXPECT_NEAR(reading.averagePower[1], -9.01f, 0.01f);
    EXPECT_NEAR(reading.averagePower[2], -15.03f, 0.01f);
    // 48 samples a period: the crest of the sine is among them.
    ASSERT_EQ(reading.samplePeak.size(), 3u);
    EXPECT_NEAR(reading.samplePeak[0], 0.0f, 0.01f);
    EXPECT_NEAR(reading.samplePeak[1], -6.0f, 0.01f);
    EXPECT_NEAR(reading.samplePeak[2], -12.02f, 0.01f);
}

TEST(ChannelPowerMeterTest, AveragesAllChunksSinceTheLastReadingThenStartsOver) {
    ChannelPowerMeter meter;
    meter.reset(1);
    const std::vector<float> loud(100, 1.0f);
    const std::vector<float> quiet(300, 0.0f);
    meter.accumulate(loud.data(), loud.size(), 1);
    meter.accumulate(quiet.data(), quiet.size(), 1);
    // A quarter of the frames at full scale: mean square 0.25.
    EXPECT_NEAR(meter.take().averagePower.at(0), -6.02f, 0.01f);

    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_NEAR(meter.take().averagePower.at(0), 0.0f, 0.01f);
}

TEST(ChannelPowerMeterTest, SilenceNoFramesAndBrokenSamplesReadTheFloor) {
    ChannelPowerMeter meter;
    meter.reset(2);
    const std::vector<float> silence(64, 0.0f);
    meter.accumulate(silence.data(), 32, 2);
    EXPECT_EQ(meter.take().averagePower, (std::vector<float>{-160.0f, -160.0f}));

    const std::vector<float> broken{std::numeric_limits<float>::quiet_NaN(), 1e-30f};
    meter.accumulate(broken.data(), 1, 2);
    EXPECT_EQ(meter.take().averagePower, (std::vector<float>{-160.0f, -160.0f}));
}

TEST(ChannelPowerMeterTest, WithoutNewFramesThereIsNoReadingHoweverLongTheGap) {
    ChannelPowerMeter meter;
    meter.reset(1);
    EXPECT_EQ(meter.take(), ChannelPowerMeter::Reading{}) << "fresh";
    const std::vector<float> loud(100, 1.0f);
    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{0.0f});
    for (int late = 0; late < 10; ++late) {
        EXPECT_EQ(meter.take(), ChannelPowerMeter::Reading{}) << late;
    }
    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_EQ(meter.take().samplePeak, std::vector<float>{0.0f});
}

TEST(ChannelPowerMeterTest, FramesOfAnotherChannelCountAreIgnored) {
    ChannelPowerMeter meter;
    meter.reset(1);
    const std::vector<float> loud(64, 1.0f);
    meter.accumulate(loud.data(), 32, 2);
    EXPECT_TRUE(meter.take().averagePower.empty());

    meter.reset(0);
    meter.accumulate(loud.data(), 32, 2);
    EXPECT_TRUE(meter.take().averagePower.empty());
    EXPECT_EQ(meter.channelCount(), 0u);
}

// A 100 Hz tone on channel 1 and a 5 kHz tone on channel 2, both at -6 dBFS peak, at 48 kHz.
std::vector<float> lowAndHighTones(std::size_t frames) {
    std::vector<float> samples;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double time = static_cast<double>(frame) / 48000.0;
        samples.push_back(
            static_cast<float>(0.501187 * std::sin(2 * std::numbers::pi * 100 * time)));
        samples.push_back(
            static_cast<float>(0.501187 * std::sin(2 * std::numbers::pi * 5000 * time)));
    }
    return samples;
}

MeterBank::Take feedAndTake(MeterBank& bank, const std::vector<float>& samples,
                            const MeterBank::FragmentHandler& onFragment = {}) {
    bank.feed(samples.data(), samples.size() / 2, 2, 48000.0, onFragment);
    return bank.take();
}

TEST(MeterBankTest, EachMeterReadsWhatItWouldReadAloneAndTheFirstWhatOneBandedMeterReads) {
    const std::vector<MeterSettings> meters = {
        {{1}, 0, 200, false},     // the low tone through its band
        {{2}, 2000, 0, false},    // the high tone through its band
        {{}, 0, 0, false},        // both, unfiltered
        {{2}, 0, 200, false},     // the first meter's band, the other channel: cut
        {{1, 2}, 2000, 0, false}  // the second meter's band, both channels
    };
    const auto samples = lowAndHighTones(48000);
    MeterBank bank;
    bank.reset(2, 48000.0);
    bank.configure(meters);
    const MeterBank::Take together = feedAndTake(bank, samples);
    ASSERT_EQ(together.meters.size(), meters.size());
    for (std::size_t meter = 0; meter < meters.size(); ++meter) {
        SCOPED_TRACE(meter);
        MeterBank alone;
        alone.reset(2, 48000.0);
        alone.configure({meters[meter]});
        const MeterReading reading = feedAndTake(alone, samples).meters.at(0);
        EXPECT_EQ(together.meters[meter].levels, reading.levels);
        EXPECT_EQ(together.meters[meter].samplePeak, reading.samplePeak);
        EXPECT_EQ(together.meters[meter].band, reading.band);
    }
    // An octave inside the cut-offs: a quarter of a decibel down.
    EXPECT_NEAR(together.meters[0].levels.at(0), -9.27f, 0.1f);
    EXPECT_NEAR(together.meters[1].levels.at(0), -9.02f, 0.1f);
    EXPECT_LT(together.meters[3].levels.at(0), -40.0f);
    EXPECT_LT(together.meters[4].levels.at(0), -40.0f);

    // The first meter reads as the band filter and the channel meter did on their own, to the
    // last bit; the loudest channel is of its band.
    BandFilter filter;
    filter.configure(0, 200, 48000.0, 2);
    std::vector<float> filtered(samples.size());
    for (std::size_t frame = 0; frame < samples.size() / 2; frame += MeterBank::kChunkFrames) {
        const std::size_t frames = std::min(MeterBank::kChunkFrames, samples.size() / 2 - frame);
        filter.process(&samples[frame * 2], &filtered[frame * 2], frames);
    }
    ChannelPowerMeter single;
    single.reset(2);
    single.accumulate(filtered.data(), filtered.size() / 2, 2);
    const ChannelPowerMeter::Reading reading = single.take();
    EXPECT_EQ(together.meters[0].levels, std::vector<float>{reading.averagePower[0]});
    EXPECT_EQ(together.meters[0].samplePeak, reading.samplePeak[0]);
    EXPECT_EQ(together.loudestChannel, reading.averagePower[0]);
}

TEST(MeterBankTest, ChangesTakeEffectForTheNextFramesAndAnEditedBandHoldsItsReading) {
    const auto samples = lowAndHighTones(4800);
    MeterBank bank;
    EXPECT_EQ(bank.meters(), std::vector<MeterSettings>{MeterSettings{}}) << "one meter at first";
    bank.reset(2, 48000.0);
    bank.configure({{{1}, 0, 200, false}, {{3}, 0, 0, false}});
    const MeterBank::Take first = feedAndTake(bank, samples);
    EXPECT_TRUE(first.meters[1].levels.empty()) << "a channel the input lacks reads nothing";
    EXPECT_EQ(first.meters[1].samplePeak, std::nullopt);

    // The band edited between chunks: the tick before new frames has no level (no sound is not
    // silence), and the frames after are through the new band.
    bank.configure({{{1}, 2000, 0, false}, {{2}, 2000, 0, false}});
    EXPECT_TRUE(bank.take().meters[0].levels.empty());
    const MeterBank::Take edited = feedAndTake(bank, samples);
    EXPECT_LT(edited.meters[0].levels.at(0), -40.0f);
    EXPECT_NEAR(edited.meters[1].levels.at(0), -9.0f, 0.5f);
    EXPECT_EQ(edited.meters[1].band, BandFilter::statusFor(2000, 0, 48000.0));

    // A list too long is cut; an empty one is a single meter of everything; the same list again
    // leaves the sums alone.
    bank.configure(std::vector<MeterSettings>(MeterBank::kMaxMeters + 3));
    EXPECT_EQ(bank.meters().size(), MeterBank::kMaxMeters);
    bank.configure({});
    EXPECT_EQ(bank.meters(), std::vector<MeterSettings>{MeterSettings{}});
    bank.feed(samples.data(), samples.size() / 2, 2, 48000.0, {});
    bank.configure({});
    EXPECT_NEAR(bank.take().meters.at(0).levels.at(1), -9.01f, 0.1f);

    // A broken sample restarts every band once and is counted for each; a reset clears it all.
    bank.configure({{{}, 0, 0, false}, {{}, 100, 0, false}, {{1}, 100, 0, false}});
    std::vector<float> broken = samples;
    broken[10] = std::numeric_limits<float>::quiet_NaN();
    const MeterBank::Take counted = feedAndTake(bank, broken);
    for (const MeterReading& reading : counted.meters) {
        EXPECT_EQ(reading.band.nonFiniteSamples, 1u);
    }
    bank.reset(2, 48000.0);
    EXPECT_EQ(bank.bandStatus(1).nonFiniteSamples, 0u);
    EXPECT_TRUE(bank.take().meters[0].levels.empty());
}

TEST(MeterBankTest, EveryFastMeterHearsEveryFiveMillisecondsOfItsOwnChannelsAndBand) {
    MeterBank bank;
    bank.reset(2, 48000.0);
    bank.configure({{{1}, 0, 200, true},
                    {{}, 0, 0, false},
                    {{2}, 2000, 0, true},
                    {{3}, 0, 0, true},
                    {{2}, 0, 200, true}});
    // 1024 frames, handed over in pieces of 7 frames as a sound server may: from the first 5 ms
    // (240 frames) on, each piece is judged at once over the last 5 ms, so that a piece near a
    // zero crossing does not read as a dip and no judgement waits for a fragment to fill.
    const auto samples = lowAndHighTones(MeterBank::kChunkFrames * 2);
    std::vector<std::pair<std::size_t, float>> heard;
    const MeterBank::FragmentHandler onFragment = [&heard](std::size_t meter, float averagePowerDb,
                                                           float) {
        heard.emplace_back(meter, averagePowerDb);
    };
    std::size_t judgedPieces = 0;
    for (std::size_t frame = 0; frame < samples.size() / 2; frame += 7) {
        const std::size_t frames = std::min<std::size_t>(7, samples.size() / 2 - frame);
        bank.feed(samples.data() + frame * 2, frames, 2, 48000.0, onFragment);
        judgedPieces += frame + frames >= 240 ? 1 : 0;
    }
    // The piece that completes the first 5 ms (frames 238 to 245) is judged at 240 and at its
    // end.
    ++judgedPieces;
    ASSERT_EQ(heard.size(), 3 * judgedPieces) << "every piece of meters 0, 2 and 4 from 5 ms on; "
                                                 "not the slow or the broken";
    std::map<std::size_t, std::vector<float>> levels;
    for (const auto& [meter, level] : heard) {
        levels[meter].push_back(level);
    }
    ASSERT_EQ(levels.size(), 3u);
    for (const auto& [meter, fragments] : levels) {
        ASSERT_EQ(fragments.size(), judgedPieces) << meter;
        // From 10 ms on the filters have settled.
        for (std::size_t fragment = 35; fragment < fragments.size(); ++fragment) {
            if (meter == 4) {
                EXPECT_LT(fragments[fragment], -40.0f);
            } else {
                EXPECT_NEAR(fragments[fragment], -9.0f, 1.0f) << meter << " " << fragment;
            }
        }
    }

    // A piece longer than 5 ms is judged every 5 ms within it and at its end.
    heard.clear();
    bank.configure({{{1}, 0, 0, true}});
    bank.feed(samples.data(), 1024, 2, 48000.0, onFragment);
    EXPECT_EQ(heard.size(), 5u) << "at 240, 480, 720 and 960 frames, and at 1024";
}

// A meter's sums and fast window are its owner's: a mapping that arrives where another stood,
// with another band, reads nothing the other gathered, and one that moves in the list or stays
// beside a change goes on hearing every piece.
TEST(MeterBankTest, AMetersSumsAndWindowBelongToItsOwnerNotToItsPlace) {
    const auto samples = lowAndHighTones(4800);
    const auto meter = [](std::string owner, float lowCut, float highCut, bool fast) {
        MeterSettings settings{{1, 2}, lowCut, highCut, fast};
        settings.owner = std::move(owner);
        return settings;
    };
    MeterBank bank;
    bank.reset(2, 48000.0);
    bank.configure({meter("kick", 0, 200, false)});
    bank.feed(samples.data(), 2400, 2, 48000.0, {});
    // hat takes kick's place with a band kick's sound never reached: kick's 50 ms of the low tone
    // are not hat's to read.
    bank.configure({meter("hat", 6000, 0, false)});
    EXPECT_TRUE(bank.take().meters.at(0).levels.empty()) << "hat heard kick's band";
    bank.feed(samples.data(), 2400, 2, 48000.0, {});
    EXPECT_LT(bank.take().meters.at(0).levels.at(0), -30.0f) << "only hat's band from now on";

    // Two fast meters trade places and a third arrives: the two go on with their whole 5 ms at
    // once, the newcomer waits for its own first 5 ms.
    std::vector<std::size_t> heard;
    const MeterBank::FragmentHandler onFragment = [&heard](std::size_t index, float, float) {
        heard.push_back(index);
    };
    bank.configure({meter("kick", 0, 0, true), meter("hat", 0, 0, true)});
    bank.feed(samples.data(), 480, 2, 48000.0, onFragment);
    bank.configure(
        {meter("hat", 0, 0, true), meter("kick", 0, 0, true), meter("snare", 0, 0, true)});
    heard.clear();
    bank.feed(samples.data(), 48, 2, 48000.0, onFragment);
    EXPECT_EQ(heard, (std::vector<std::size_t>{0, 1})) << "1 ms after the change";
}

TEST(MeterBankTest, AFastMeterReadsTheLastFiveMillisecondsHoweverManyPiecesAndLapsCame) {
    MeterBank bank;
    bank.reset(2, 48000.0);
    bank.configure({{{}, 0, 0, true}});
    // A tone that jumps between loud, soft and silent every 100 ms (the right channel at half the
    // left), handed over in pieces of uneven sizes, short and long, for many laps of the window.
    std::vector<float> samples;
    const std::vector<float> steps = {1.0f, 0.001f, 0.0f, 0.5f, 0.0f, 1.0f, 0.02f, 0.0f};
    for (const float amplitude : steps) {
        const auto step = sine(4800, {amplitude, amplitude / 2});
        samples.insert(samples.end(), step.begin(), step.end());
    }
    std::vector<std::pair<std::size_t, FragmentLevel>> heard;  // the frames fed, the level heard
    std::size_t fed = 0;
    const MeterBank::FragmentHandler onFragment = [&](std::size_t, float power, float peak) {
        heard.emplace_back(fed, FragmentLevel{power, peak});
    };
    const auto feedInPieces = [&](const std::vector<float>& sound) {
        const std::vector<std::size_t> pieces = {7, 96, 240, 13, 500, 1, 239, 48};
        heard.clear();
        fed = 0;
        for (std::size_t piece = 0; fed < sound.size() / 2; ++piece) {
            const std::size_t frames =
                std::min(pieces[piece % pieces.size()], sound.size() / 2 - fed);
            fed += frames;
            bank.feed(sound.data() + (fed - frames) * 2, frames, 2, 48000.0, onFragment);
        }
    };
    feedInPieces(samples);
    ASSERT_GT(heard.size(), 300u);
    // A judgement within a long piece comes before the piece's end: its frames are found by
    // matching, so each level is compared with the 5 ms that end at the piece's end or earlier.
    int silentWindows = 0;
    for (const auto& [end, level] : heard) {
        bool matched = false;
        for (std::size_t last = end; last >= 240 && last + 500 >= end && !matched; --last) {
            const FragmentLevel exact = fragmentLevel(&samples[(last - 240) * 2], 240, 2, 0b11);
            if (exact.samplePeak != level.samplePeak) {
                continue;
            }
            if (exact.averagePower > -100.0f) {
                matched = std::fabs(exact.averagePower - level.averagePower) < 0.001f;
            } else {
                // What a loud sound left in the sums is gone within rounding.
                matched = level.averagePower < -120.0f;
                silentWindows += exact.averagePower == kSilenceDecibels ? 1 : 0;
            }
        }
        EXPECT_TRUE(matched) << "judged at " << end << ": " << level.averagePower << " dBFS";
    }
    EXPECT_GT(silentWindows, 10) << "the silent stretches after loud ones were judged";

    // A broken stream's sample far beyond full scale leaves nothing in the sums a lap after it
    // slid out.
    std::vector<float> spiked = sine(960, {0.5f, 0.25f});
    spiked[200] = 1e18f;
    feedInPieces(spiked);
    ASSERT_EQ(heard.back().first, 960u);
    EXPECT_NEAR(heard.back().second.averagePower,
                fragmentLevel(&spiked[720 * 2], 240, 2, 0b11).averagePower, 0.001f);
}

TEST(MeterBankTest, TheCaptureThreadFeedsWhileTheMainThreadReconfiguresAndTakes) {
    MeterBank bank;
    bank.reset(2, 48000.0);
    const auto samples = lowAndHighTones(480);
    // Never a meter the list does not have, whichever list the chunk met.
    std::atomic<std::size_t> highestMeter{0};
    std::thread capture([&] {
        for (int chunk = 0; chunk < 2000; ++chunk) {
            bank.feed(samples.data(), 480, 2, 48000.0,
                      [&highestMeter](std::size_t meter, float, float) {
                          highestMeter = std::max(highestMeter.load(), meter);
                      });
        }
    });
    for (int change = 0; change < 200; ++change) {
        bank.configure({{{1}, float(change % 3) * 100, 0, true}, {{2}, 2000, 0, change % 2 == 0}});
        bank.take();
    }
    capture.join();
    EXPECT_LT(highestMeter.load(), 2u);
    bank.configure({{{2}, 2000, 0, false}});
    bank.take();
    EXPECT_NEAR(feedAndTake(bank, lowAndHighTones(4800)).meters[0].levels.at(0), -9.0f, 0.5f);
}

}  // namespace
