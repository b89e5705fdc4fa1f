#pragma once
// QTConfiguration: reads config.xml into the Configuration record.
//
// Start elements are handled in document order wherever they stand in the
// tree; names are compared exactly. Integers are read in base 10 and
// fractions as floats; an absent or empty attribute leaves its field alone and
// a value that is not a number stores 0. Fractions are scaled with the display
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
    bool readFloat(const QXmlStreamAttributes& attributes, const char* element, const char* name, float& field);

    QString fileName;
    qint64 line = 0;
    bool clean = true;
};
