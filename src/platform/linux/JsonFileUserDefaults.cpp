#include "platform/linux/JsonFileUserDefaults.h"

#include "base/AppIdentity.h"
#include "base/Logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const QString kDataKey = QStringLiteral("$data");

constexpr QFileDevice::Permissions kOwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
} // namespace

JsonFileUserDefaults::JsonFileUserDefaults(QString filePath) : m_path(std::move(filePath))
{
    load();
}

QString JsonFileUserDefaults::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           QLatin1String(Voxle::kApplicationName) + QStringLiteral("/settings.json");
}

void JsonFileUserDefaults::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        moveAside(file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        moveAside(file.errorString());
        return;
    }
    file.close();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        moveAside(error.errorString());
        return;
    }
    if (!document.isObject()) {
        moveAside(QStringLiteral("not a JSON object"));
        return;
    }
    m_values = document.object();
}

void JsonFileUserDefaults::moveAside(const QString &reason)
{
    const QString aside = m_path + QStringLiteral(".corrupt-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
    if (QFile::rename(m_path, aside)) {
        qCWarning(lcAppState).noquote()
            << QStringLiteral("[UserDefaults] unreadable settings file %1 (%2) moved aside to %3; settings start empty")
                   .arg(m_path, reason, aside);
    } else {
        m_writable = false;
        qCWarning(lcAppState).noquote()
            << QStringLiteral("[UserDefaults] unreadable settings file %1 (%2) could not be moved aside; "
                              "changes will not be saved")
                   .arg(m_path, reason);
    }
}

QVariant JsonFileUserDefaults::object(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return value.toDouble();
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        if (object.size() != 1 || !object.value(kDataKey).isString())
            return {};
        const auto decoded = QByteArray::fromBase64Encoding(object.value(kDataKey).toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return {};
        return *decoded;
    }
    default:
        return {}; // absent, null, arrays: not something this store writes
    }
}

void JsonFileUserDefaults::setBool(const QString &key, bool value)
{
    set(key, value);
}

void JsonFileUserDefaults::setString(const QString &key, const QString &value)
{
    set(key, value);
}

void JsonFileUserDefaults::setData(const QString &key, const QByteArray &value)
{
    set(key, QJsonObject{{kDataKey, QString::fromLatin1(value.toBase64())}});
}

void JsonFileUserDefaults::setNumber(const QString &key, double value)
{
    set(key, value);
}

void JsonFileUserDefaults::remove(const QString &key)
{
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    write();
}

void JsonFileUserDefaults::set(const QString &key, const QJsonValue &value)
{
    m_values.insert(key, value);
    write();
}

void JsonFileUserDefaults::write()
{
    if (!m_writable)
        return;
    const QFileInfo info(m_path);
    QDir dir = info.absoluteDir();
    if (!dir.exists()) {
        QDir().mkpath(QFileInfo(dir.absolutePath()).absolutePath());
        QDir().mkdir(dir.absolutePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcAppState).noquote() << "[UserDefaults] cannot write" << m_path << ":" << file.errorString();
        return;
    }
    file.setPermissions(kOwnerReadWrite);
    file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    if (!file.commit())
        qCWarning(lcAppState).noquote() << "[UserDefaults] cannot write" << m_path << ":" << file.errorString();
}
