#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Builds binary property lists object by object, with references as the format has
// them, so that tests can make what no writer would: shared and deep references,
// strings with a NUL inside.
namespace testenv {

class BinaryPlist {
public:
    int string(const QByteArray& ascii) { return add(marker(0x5, ascii.size()) + ascii); }
    int integer(qint64 value) {
        QByteArray bytes(1, char(0x13));
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.append(char((value >> shift) & 0xFF));
        return add(bytes);
    }
    int array(const QList<int>& refs) {
        QByteArray bytes = marker(0xA, refs.size());
        for (const int ref : refs)
            bytes += reference(ref);
        return add(bytes);
    }
    int dictionary(const QList<QPair<int, int>>& entries) {
        QByteArray bytes = marker(0xD, entries.size());
        for (const auto& entry : entries)
            bytes += reference(entry.first);
        for (const auto& entry : entries)
            bytes += reference(entry.second);
        return add(bytes);
    }
    // A placeholder whose content is given later, for references to objects made after.
    int reserve() { return add({}); }
    void set(int object, int from) { m_objects[object] = m_objects[from]; }

    QByteArray build(int top) const {
        QByteArray out("bplist00");
        QList<quint64> offsets;
        for (const QByteArray& object : m_objects) {
            offsets.append(quint64(out.size()));
            out += object;
        }
        const quint64 table = quint64(out.size());
        for (const quint64 offset : offsets)
            out += bigEndian(offset, 8);
        out += QByteArray(6, '\0');
        out += char(8); // offset size
        out += char(4); // reference size
        out += bigEndian(quint64(m_objects.size()), 8);
        out += bigEndian(quint64(top), 8);
        out += bigEndian(table, 8);
        return out;
    }

private:
    static QByteArray bigEndian(quint64 value, int size) {
        QByteArray bytes;
        for (int i = size - 1; i >= 0; --i)
            bytes += char((value >> (8 * i)) & 0xFF);
        return bytes;
    }
    static QByteArray reference(int ref) { return bigEndian(quint64(ref), 4); }
    static QByteArray marker(int type, qsizetype count) {
        if (count < 15)
            return QByteArray(1, char((type << 4) | int(count)));
        return QByteArray(1, char((type << 4) | 0xF)) + char(0x13) + bigEndian(quint64(count), 8);
    }
    int add(const QByteArray& object) {
        m_objects.append(object);
        return int(m_objects.size() - 1);
    }

    QList<QByteArray> m_objects;
};

} // namespace testenv
