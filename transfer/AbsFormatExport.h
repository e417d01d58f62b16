#pragma once

// One export format behind three steps: begin the output, write one record,
// end the output. begin is called once before the first write and end once
// after the last.
//
// Each step throws std::runtime_error (UTF-8 text) when the output cannot be
// opened or written: a full disk or an unwritable path is never taken for a
// finished export.
template<typename Record>
class AbsFormatExport
{
public:
    virtual ~AbsFormatExport() = default;

    virtual void begin() = 0;
    // Only reads the record and the records it points to.
    virtual void write(const Record *record) = 0;
    virtual void end() = 0;

protected:
    AbsFormatExport() = default;
    AbsFormatExport(const AbsFormatExport &) = delete;
    AbsFormatExport &operator=(const AbsFormatExport &) = delete;
};
