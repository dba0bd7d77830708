// The graphics objects behind GDI handles, and the table that maps handles to
// them.
//
// A handle is never dereferenced: it encodes a kind, a table index and a
// generation, and is only honoured while the slot at that index still holds a
// live object of that kind and generation. Stale, deleted, forged and
// wrong-kind handles therefore just fail the lookup.
//
// Everything here runs on the program's single thread; nothing is locked.
// Callers that call out to user code (observers, surface notifications) look
// their objects up again afterwards, since the callback may have deleted them.
#ifndef OSTREVANE_PLATFORM_GDI_OBJECTS_H
#define OSTREVANE_PLATFORM_GDI_OBJECTS_H

#include <windows.h>
#include <platform_extras.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/gdi/pixel_memory.h"
#include "platform/gdi/surface.h"

namespace platform {
namespace gdi {

enum class Kind : unsigned { None = 0, Dc = 1, Bitmap = 2, Pen = 3, Brush = 4 };

struct Object {
    virtual ~Object() = default;
    // Stock objects are never deleted.
    bool stock = false;
    // Device contexts this object is selected into.
    int selectCount = 0;
    // DeleteObject was called while the object was selected; it goes away
    // when the last device context lets go of it.
    bool deletePending = false;
};

struct Bitmap : Object {
    int width = 0;
    int height = 0;
    // 32 (0x00RRGGBB per pixel) or 1 (monochrome: stored the same way, every
    // pixel 0x000000 or 0xFFFFFF).
    int bitsPerPixel = 32;
    // Rows top to bottom, `width` pixels per row.
    PixelMemory pixels;
    // Every pixel is still 0, as the bitmap was made: filling with black
    // then writes nothing, and untouched memory takes no space.
    bool zeroed = false;
    // Outside this rectangle every pixel is still 0, as the bitmap was made:
    // the bounds of all that was drawn on it. `writing` is set from a
    // write's PrepareTarget to its NotifyChanged; a write that never
    // reports its area makes the bounds the whole bitmap.
    RECT written = {0, 0, 0, 0};
    bool writing = false;
    // The 1x1 monochrome bitmap every memory device context starts with. It
    // can be read but is never drawn on, and may be selected anywhere.
    bool isDefault = false;
    // Surfaces showing part of these pixels in place; they take their own
    // copy before the bitmap is drawn on or deleted.
    std::vector<Surface*> viewers;
};

struct Pen : Object {
    bool visible = true;  // false for PS_NULL
    COLORREF colour = 0;
};

struct Brush : Object {
    bool hollow = false;  // NULL_BRUSH
    COLORREF colour = 0;
};

enum class DcType { Memory, Screen, Surface };

struct Dc : Object {
    DcType type = DcType::Memory;
    HBITMAP bitmap = nullptr;  // memory device contexts only
    HPEN pen = nullptr;
    HBRUSH brush = nullptr;
    POINT position = {0, 0};
    PlatformLineObserver observer = nullptr;
    void* observerContext = nullptr;
    Surface* surface = nullptr;  // surface device contexts; null once detached
};

// Adds `object` to the table; returns its handle, or null when the table is
// full.
HGDIOBJ Register(std::unique_ptr<Object> object, Kind kind);

// The handle table's slots, read by the lookups below, which every drawing
// call makes: inline, as they run tens of thousands of times for a figure.
namespace table {
// Handle layout: bits 0-3 kind, bits 4-23 slot index, the rest a generation
// that changes whenever the slot is reused.
const unsigned kKindBits = 4;
const unsigned kIndexBits = 20;
const std::uintptr_t kKindMask = (std::uintptr_t(1) << kKindBits) - 1;
const std::uintptr_t kIndexMask = (std::uintptr_t(1) << kIndexBits) - 1;
const unsigned kGenerationShift = kKindBits + kIndexBits;

struct Slot {
    std::unique_ptr<Object> object;
    Kind kind = Kind::None;
    std::uintptr_t generation = 1;
};
// The slots as they stand (null until the table is first used), kept
// current by the table as it grows.
extern Slot* slots;
extern std::size_t size;
// Lookup for the first use: makes the table.
Object* LookupMakingTable(const void* handle, Kind kind);
}  // namespace table

namespace table {
// The live slot behind `handle` among `count` slots, or null: a stale,
// forged or freed handle names none.
inline Slot* FindSlot(Slot* slots, std::size_t count, const void* handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    const std::size_t index = (value >> kKindBits) & kIndexMask;
    if (index == 0 || index >= count) {
        return nullptr;
    }
    Slot& slot = slots[index];
    if (slot.object == nullptr || static_cast<std::uintptr_t>(slot.kind) != (value & kKindMask) ||
        slot.generation != (value >> kGenerationShift)) {
        return nullptr;
    }
    return &slot;
}
}  // namespace table

// The live object of the given kind behind `handle`, or null.
inline Object* Lookup(const void* handle, Kind kind) {
    if (table::slots == nullptr) {
        return table::LookupMakingTable(handle, kind);
    }
    table::Slot* slot = table::FindSlot(table::slots, table::size, handle);
    return slot != nullptr && slot->kind == kind ? slot->object.get() : nullptr;
}
Kind KindOf(const void* handle);

template <typename T>
T* LookupAs(const void* handle, Kind kind) {
    return static_cast<T*>(Lookup(handle, kind));
}
inline Dc* LookupDc(HDC hdc) { return LookupAs<Dc>(hdc, Kind::Dc); }
inline Bitmap* LookupBitmap(const void* h) { return LookupAs<Bitmap>(h, Kind::Bitmap); }
inline Pen* LookupPen(const void* h) { return LookupAs<Pen>(h, Kind::Pen); }
inline Brush* LookupBrush(const void* h) { return LookupAs<Brush>(h, Kind::Brush); }

// Frees the slot of `handle`; later lookups of it fail.
void Destroy(const void* handle);

// Calls visit(handle, dc) for every live device context.
template <typename Visit>
void ForEachDc(Visit&& visit);

// The stock objects.
HGDIOBJ StockObject(int index);
HBITMAP DefaultBitmap();

// Records that a device context now holds / no longer holds `handle`. Letting
// go of the last hold of an object whose deletion is pending deletes it.
void Hold(HGDIOBJ handle);
void LetGo(HGDIOBJ handle);

// Implementation detail of ForEachDc.
std::size_t SlotCount();
HDC DcAt(std::size_t slot, Dc** dc);

template <typename Visit>
void ForEachDc(Visit&& visit) {
    for (std::size_t i = 0; i < SlotCount(); ++i) {
        Dc* dc = nullptr;
        HDC hdc = DcAt(i, &dc);
        if (hdc != nullptr) {
            visit(hdc, dc);
        }
    }
}

}  // namespace gdi
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_OBJECTS_H
