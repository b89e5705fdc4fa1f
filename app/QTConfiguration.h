#pragma once
// QTConfiguration: reads config.xml into the Configuration record.
//
// Start elements are handled in document order wherever they stand in the
// tree; names are compared exactly. Integers are read in base 10 and
// fractions as floats; an absent or empty attribute leaves its field alone and
// a value that is not a number stores 0. A number no screen could use (not
// finite, a negative size, a display beyond MaxDisplaySize pixels, a fraction
// far outside the display) is named in one line and leaves its field as it
// was. The format is described in docs/config-file.md. Fractions are scaled with the display
// size known when the element is read, so a later "mainwindow" does not
// rescale earlier windows. Reading stops at the first malformed spot; what
// was read before it stays applied. A missing or empty file leaves the
// defaults. While reading, the kelvo window and subspace aspect ratios and
// the view size are handed to the framework.
#include "app/Configuration.h"

#include <QString>
#include <QXmlStreamAttributes>

class QTConfiguration : public Configuration {
public:
    explicit QTConfiguration(const QString& fileName);

    // Larger display sizes are taken for typing mistakes.
    static constexpr int MaxDisplaySize = 16384;

    // Acts on one start element named qName; always true so reading goes on.
    bool startElement(const QString& namespaceURI, const QString& localName, const QString& qName,
                      const QXmlStreamAttributes& attributes);

    // False when the file held malformed XML or a value that is not a number;
    // one line naming the file and line was printed for each.
    bool isClean() const { return clean; }

private:
    void parse();
    // Store the attribute when its value is a non-empty string; readFloat
    // says whether it did.
    void readInt(const QXmlStreamAttributes& attributes, const char* element, const char* name, int& field);
    // A display size: as readInt, but a number outside 0..MaxDisplaySize
    // leaves the field alone.
    void readSize(const QXmlStreamAttributes& attributes, const char* element, const char* name, int& field);
    // A fraction of the display; one outside low..high (or not finite) is
    // named and not stored (returns false).
    bool readFloat(const QXmlStreamAttributes& attributes, const char* element, const char* name, float& field,
                   double low, double high);
    void insane(const char* element, const char* name, const QString& text, const char* why);

    QString fileName;
    qint64 line = 0;
    bool clean = true;
};
