// audio: CPU cost of converting capture buffers to 16 kHz mono PCM16, and the delay from start() to the first
// PCM callback with the real default input (needs a PulseAudio server, e.g. the test desktop's virtual
// microphone).
#include "BenchRegistry.h"
#include "audio/AudioCaptureService.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/linux/LinuxAudioInput.h"
#include "platform/linux/LinuxMicrophoneAccess.h"

#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <cmath>
#include <ctime>
#include <numbers>
#include <random>

namespace {
double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

bool startNow(AudioCaptureService &service, AudioCaptureSink sink)
{
    try {
        auto task = service.start(std::move(sink)); // never suspends: done or thrown here
        Q_UNUSED(task);
        return service.isRunning();
    } catch (const CaptureError &e) {
        QTextStream(stderr) << "audio: start failed: " << e.message << '\n';
        return false;
    }
}

// 60 s of 48 kHz stereo 16-bit speech-like signal (two tones and noise), in 1024-frame buffers.
std::vector<QByteArray> sixtySeconds()
{
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 800);
    std::vector<QByteArray> buffers;
    const int frames = 60 * 48000;
    for (int start = 0; start < frames; start += 1024) {
        QByteArray b(1024 * 4, Qt::Uninitialized);
        for (int i = 0; i < 1024; ++i) {
            const double t = double(start + i) / 48000;
            const double v = 6000 * std::sin(2 * std::numbers::pi * 220 * t) +
                             3000 * std::sin(2 * std::numbers::pi * 1700 * t) + noise(rng);
            qToLittleEndian<qint16>(qint16(std::lround(v)), b.data() + i * 4);
            qToLittleEndian<qint16>(qint16(std::lround(v * 0.8)), b.data() + i * 4 + 2);
        }
        buffers.push_back(b);
    }
    return buffers;
}

double conversionCpuMsPerAudioSecond(const std::vector<QByteArray> &buffers, double gain)
{
    FakeAudioInput input;
    input.format = AudioInputFormat{48000, 2, AudioInputFormat::SampleType::int16};
    AudioCaptureService service(input, AudioCaptureService::Configuration{});
    std::atomic<qint64> bytes{0};
    service.setGain(gain);
    if (!startNow(service, {[](double, const QVector<double> &) {},
                            [&](const QByteArray &chunk) { bytes += chunk.size(); }}))
        return NAN;
    const double before = processCpuMs();
    for (const QByteArray &b : buffers)
        input.push(b);
    service.stop(); // returns once every buffer is converted
    const double cpu = processCpuMs() - before;
    const double seconds = double(buffers.size()) * 1024 / 48000;
    if (std::llabs(bytes.load() / 2 - qint64(seconds * 16000)) > 2)
        QTextStream(stderr) << "audio: unexpected output length " << bytes.load() / 2 << '\n';
    return cpu / seconds;
}

double firstPcmMs(AudioCaptureService &service)
{
    std::atomic<qint64> firstNs{-1};
    QElapsedTimer timer;
    timer.start();
    if (!startNow(service, {{}, [&](const QByteArray &) {
                                qint64 expected = -1;
                                firstNs.compare_exchange_strong(expected, timer.nsecsElapsed());
                            }}))
        return NAN;
    while (firstNs.load() < 0 && timer.elapsed() < 10000)
        QThread::msleep(1);
    service.stop();
    return firstNs.load() < 0 ? NAN : double(firstNs.load()) / 1e6;
}

int benchAudio(const QStringList &)
{
    QTextStream out(stdout);
    const std::vector<QByteArray> buffers = sixtySeconds();
    std::vector<double> all;
    for (double gain : {1.0, 2.0}) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i)
            runs.push_back(conversionCpuMsPerAudioSecond(buffers, gain));
        all.insert(all.end(), runs.begin(), runs.end());
        out << "capture_cpu_ms_per_audio_s_gain" << gain << '=' << benchMedian(runs) << '\n';
    }
    out << "capture_cpu_ms_per_audio_s=" << benchMedian(all) << '\n';
    out.flush();

    LinuxAudioInput input;
    LinuxMicrophoneAccess access;
    AudioCaptureService service(input, AudioCaptureService::Configuration{}, &access);
    // The very first open of a fresh server's source is slow on the server side; reported on its own.
    const double cold = firstPcmMs(service);
    if (std::isnan(cold)) {
        out << "capture_first_pcm_ms=nan\n";
        QTextStream(stderr) << "audio: capture_first_pcm_ms needs a PulseAudio server with a default source\n";
        return 1;
    }
    std::vector<double> warm;
    for (int i = 0; i < 9; ++i) {
        QThread::msleep(100);
        warm.push_back(firstPcmMs(service));
    }
    out << "capture_first_pcm_cold_ms=" << cold << '\n';
    out << "capture_first_pcm_ms=" << benchMedian(warm) << '\n';
    return 0;
}

const BenchRegistrar reg("audio", benchAudio);
} // namespace
