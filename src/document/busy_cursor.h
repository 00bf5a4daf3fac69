#pragma once
// The wait cursor for the length of a command, put back also when the
// command leaves early or a failure escapes it.

#include "document/document_ui.h"

class BusyCursor {
public:
    explicit BusyCursor(DocumentUi& ui) : m_ui(ui) { m_ui.setBusy(true); }
    ~BusyCursor() { m_ui.setBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    DocumentUi& m_ui;
};
