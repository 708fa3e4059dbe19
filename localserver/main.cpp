#include "HttpFront.h"
#include "PocketsphinxRecognitionEngine.h"
#include "RealtimeAsrEndpoint.h"
#include "ScriptedRecognitionEngine.h"
#include "backend/BackendEndpoints.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <cstdio>

// voxle-localserver [--port N] [--api-key KEY] [--engine scripted|pocketsphinx] [--tls-cert PEM --tls-key PEM]
// Prints "port=<n>" as its first line once it listens on 127.0.0.1; with a certificate and key it also serves
// TLS on a second port and prints "tls_port=<n>" as the second line.
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
    const QCommandLineOption certOption(QStringLiteral("tls-cert"), QStringLiteral("PEM certificate for TLS."),
                                        QStringLiteral("file"));
    const QCommandLineOption tlsKeyOption(QStringLiteral("tls-key"), QStringLiteral("PEM private key for TLS."),
                                          QStringLiteral("file"));
    parser.addOptions({portOption, keyOption, engineOption, certOption, tlsKeyOption});
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
    if (parser.isSet(certOption)) {
        QFile certFile(parser.value(certOption));
        QFile keyFile(parser.value(tlsKeyOption));
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "voxle-localserver: cannot read --tls-cert or --tls-key\n");
            return 1;
        }
        const QByteArray keyPem = keyFile.readAll();
        QSslKey key(keyPem, QSsl::Ec);
        if (key.isNull())
            key = QSslKey(keyPem, QSsl::Rsa);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(certFile.readAll()));
        tls.setPrivateKey(key);
        if (key.isNull() || tls.localCertificate().isNull() || !front.listenTls(QHostAddress::LocalHost, 0, tls)) {
            std::fprintf(stderr, "voxle-localserver: cannot serve TLS\n");
            return 1;
        }
        std::printf("tls_port=%u\n", static_cast<unsigned>(front.tlsPort()));
    }
    std::fflush(stdout);
    return app.exec();
}
