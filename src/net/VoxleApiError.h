#pragma once

#include <QNetworkReply>
#include <QString>
#include <exception>

// The client's own failure: `message` is the exact text to show to the user.
struct VoxleApiError : std::exception {
    explicit VoxleApiError(QString text) : message(std::move(text)) {}
    const char *what() const noexcept override { return "VoxleApiError"; }
    QString message;
};

// A failure below HTTP (no connection, timeout, TLS, cancellation), passed on unchanged by the client.
struct VoxleTransportError : std::exception {
    VoxleTransportError(QNetworkReply::NetworkError networkError, QString text)
        : code(networkError), description(std::move(text))
    {
    }
    const char *what() const noexcept override { return "VoxleTransportError"; }
    QNetworkReply::NetworkError code;
    QString description;
};
