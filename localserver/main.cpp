#include "HttpFront.h"
#include "PocketsphinxRecognitionEngine.h"
#include "RealtimeAsrEndpoint.h"
#include "ScriptedRecognitionEngine.h"
#include "backend/BackendEndpoints.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

// voxle-localserver [--port N] [--api-key KEY] [--engine scripted|pocketsphinx]
// Prints "port=<n>" as its first line once it listens on 127.0.0.1.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("voxle-localserver"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port, 0 for any."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption keyOption(QStringLiteral("api-key"), QStringLiteral("The accepted DashScope key."),
                                       QStringLiteral("key"), QStringLiteral("sk-local-test"));
    const QCommandLineOption engineOption(QStringLiteral("engine"), QStringLiteral("scripted or pocketsphinx."),
                                          QStringLiteral("engine"), QStringLiteral("scripted"));
    parser.addOptions({portOption, keyOption, engineOption});
    // Options of the backend endpoints are theirs to read.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "voxle-localserver: bad --port\n");
        return 2;
    }
    const QString engineName = parser.value(engineOption);
    if (engineName != QStringLiteral("scripted") && engineName != QStringLiteral("pocketsphinx")) {
        std::fprintf(stderr, "voxle-localserver: unknown --engine %s\n", qPrintable(engineName));
        return 2;
    }
    ScriptedRecognitionEngine scripted;
    std::unique_ptr<PocketsphinxRecognitionEngine> pocketsphinx;
    if (engineName == QStringLiteral("pocketsphinx")) {
        pocketsphinx = std::make_unique<PocketsphinxRecognitionEngine>();
        if (!pocketsphinx->loadError().isEmpty()) {
            std::fprintf(stderr, "voxle-localserver: %s\n", qPrintable(pocketsphinx->loadError()));
            return 1;
        }
    }
    RecognitionEngine &engine = pocketsphinx ? static_cast<RecognitionEngine &>(*pocketsphinx) : scripted;

    HttpFront front;
    RealtimeAsrEndpoint asr(front, engine, &scripted, parser.value(keyOption));
    installBackendEndpoints(front, engine, QCoreApplication::arguments());

    if (!front.listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        std::fprintf(stderr, "voxle-localserver: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("port=%u\n", static_cast<unsigned>(front.port()));
    std::fflush(stdout);
    return app.exec();
}
