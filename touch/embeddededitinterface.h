#pragma once

#include <QString>

// What the on-screen keyboard needs of the edit that opened it: a place to hand the confirmed text.
// Objects are never deleted through this interface, so its destructor is protected and not virtual.
class EmbeddedEditInterface
{
public:
    virtual void acceptText(const QString &text) = 0;
    /// A multi-line edit (a description) takes line breaks; the keyboard then offers its line-break key.
    virtual bool acceptsLineBreaks() const { return false; }

protected:
    EmbeddedEditInterface() = default;
    EmbeddedEditInterface(const EmbeddedEditInterface &) = default;
    EmbeddedEditInterface &operator=(const EmbeddedEditInterface &) = default;
    ~EmbeddedEditInterface() = default;
};
