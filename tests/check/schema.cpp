#include "schema.h"

#include <QtCore/QJsonArray>
#include <QtCore/QRegularExpression>

#include <cmath>

namespace {

bool hasType(const QJsonValue& value, const QString& type)
{
    if (type == QLatin1String("object"))
        return value.isObject();
    if (type == QLatin1String("array"))
        return value.isArray();
    if (type == QLatin1String("string"))
        return value.isString();
    if (type == QLatin1String("number"))
        return value.isDouble();
    if (type == QLatin1String("integer"))
        return value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
    if (type == QLatin1String("boolean"))
        return value.isBool();
    return false;
}

}  // namespace

QStringList schemaViolations(const QJsonValue& value, const QJsonObject& schema, const QString& where)
{
    const QString at = where.isEmpty() ? QStringLiteral("(report)") : where;
    auto child = [&](const QString& name) { return where.isEmpty() ? name : where + QLatin1Char('.') + name; };
    QStringList broken;
    const QString type = schema.value(QStringLiteral("type")).toString();
    if (!type.isEmpty() && !hasType(value, type))
        return {at + QStringLiteral(": not of type ") + type};
    if (schema.contains(QStringLiteral("enum")) && !schema.value(QStringLiteral("enum")).toArray().contains(value))
        broken << at + QStringLiteral(": not one of the allowed values");
    if (schema.contains(QStringLiteral("minimum")) &&
        value.toDouble() < schema.value(QStringLiteral("minimum")).toDouble())
        broken << at + QStringLiteral(": below the minimum");
    if (value.isString()) {
        if (value.toString().size() < schema.value(QStringLiteral("minLength")).toInt())
            broken << at + QStringLiteral(": too short");
        const QString pattern = schema.value(QStringLiteral("pattern")).toString();
        if (!pattern.isEmpty() && !QRegularExpression(pattern).match(value.toString()).hasMatch())
            broken << at + QStringLiteral(": does not match ") + pattern;
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        const QJsonObject properties = schema.value(QStringLiteral("properties")).toObject();
        for (const QJsonValue& name : schema.value(QStringLiteral("required")).toArray()) {
            if (!object.contains(name.toString()))
                broken << child(name.toString()) + QStringLiteral(": missing");
        }
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (properties.contains(it.key()))
                broken << schemaViolations(it.value(), properties.value(it.key()).toObject(), child(it.key()));
            else if (schema.value(QStringLiteral("additionalProperties")) == QJsonValue(false))
                broken << child(it.key()) + QStringLiteral(": not allowed");
        }
    }
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        if (array.size() < schema.value(QStringLiteral("minItems")).toInt())
            broken << at + QStringLiteral(": too few items");
        const QJsonObject items = schema.value(QStringLiteral("items")).toObject();
        for (int i = 0; i < array.size(); ++i)
            broken << schemaViolations(array.at(i), items, QStringLiteral("%1[%2]").arg(at).arg(i));
    }
    return broken;
}
