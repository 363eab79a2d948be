// A small JSON Schema validator for the kit's report: type, required,
// additionalProperties (false), properties, items, minItems, enum, minimum,
// minLength and pattern; what the report's schema uses, nothing more.
#ifndef KWCAM_TESTS_CHECK_SCHEMA_H
#define KWCAM_TESTS_CHECK_SCHEMA_H

#include <QtCore/QJsonObject>
#include <QtCore/QJsonValue>
#include <QtCore/QStringList>

// The places where value breaks schema ("summary.fail: missing"), empty
// when it conforms.
QStringList schemaViolations(const QJsonValue& value, const QJsonObject& schema, const QString& where = QString());

#endif  // KWCAM_TESTS_CHECK_SCHEMA_H
