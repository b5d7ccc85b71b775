// The stored values in their stored order, each with its stored name and
// kind: the one list that the settings file, the registry and the tests all
// go through. Qt-free, so that the Windows code built without Qt uses it too.
//
// The visitor has text(name, fields...), integer(name, fields...) and
// boolean(name, fields...); each record given contributes its member of that
// name, so one visit can read one record or copy between two kinds of record.
#pragma once

template <typename Visitor, typename... Records> void forEachStoredValue(Visitor&& v, Records&... r)
{
    v.text("CommName", r.CommName...);
    v.text("CommBaudRate", r.CommBaudRate...);
    v.integer("ReaderType", r.ReaderType...);
    v.integer("ReaderID", r.ReaderID...);
    v.integer("SameCardTime", r.SameCardTime...);
    v.boolean("AddReturn", r.AddReturn...);
    v.boolean("AddDown", r.AddDown...);
    v.boolean("CardIDReverse", r.CardIDReverse...);
    v.boolean("AutoRun", r.AutoRun...);
    v.integer("Language", r.Language...);
    v.integer("SendFormat", r.SendFormat...);
    v.boolean("SaveToFile", r.SaveToFile...);
    v.boolean("TimeField", r.TimeField...);
    v.text("ExportFile", r.ExportFile...);
}

// Only in the settings file, and only where the desktop portal gave one.
constexpr const char* kPortalRestoreTokenName = "PortalRestoreToken";
