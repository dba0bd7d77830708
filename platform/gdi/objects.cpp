#include "platform/gdi/objects.h"

#include "platform/gdi/raster.h"

#include <deque>
#include <utility>
#include <vector>

namespace platform {
namespace gdi {

namespace {

using table::kGenerationShift;
using table::kIndexBits;
using table::kIndexMask;
using table::kKindBits;
using table::kKindMask;
using table::Slot;
const std::uintptr_t kGenerationMask = ~std::uintptr_t(0) >> kGenerationShift;
const std::size_t kMaxSlots = std::size_t(1) << kIndexBits;
// Freed slots wait in line this long before reuse, so that a stale handle
// stays invalid for a while even if generations were to repeat.
const std::size_t kReuseDelay = 1024;

// Stock slots, in GetStockObject order; slot 0 is never used.
const int kStockCount = 9;
const std::size_t kDefaultBitmapSlot = kStockCount + 1;

class Table {
public:
    Table() {
        slots_.resize(kDefaultBitmapSlot + 1);
        AddStockBrush(WHITE_BRUSH, RGB(255, 255, 255), false);
        AddStockBrush(LTGRAY_BRUSH, RGB(192, 192, 192), false);
        AddStockBrush(GRAY_BRUSH, RGB(128, 128, 128), false);
        AddStockBrush(DKGRAY_BRUSH, RGB(64, 64, 64), false);
        AddStockBrush(BLACK_BRUSH, RGB(0, 0, 0), false);
        AddStockBrush(NULL_BRUSH, 0, true);
        AddStockPen(WHITE_PEN, RGB(255, 255, 255), true);
        AddStockPen(BLACK_PEN, RGB(0, 0, 0), true);
        AddStockPen(NULL_PEN, 0, false);

        auto bitmap = std::make_unique<Bitmap>();
        bitmap->stock = true;
        bitmap->isDefault = true;
        bitmap->width = 1;
        bitmap->height = 1;
        bitmap->bitsPerPixel = 1;
        bitmap->pixels.reset(AllocatePixelMemory(1));
        Place(kDefaultBitmapSlot, std::move(bitmap), Kind::Bitmap);
        Publish();
    }
    ~Table() {
        table::slots = nullptr;
        table::size = 0;
    }

    HGDIOBJ Add(std::unique_ptr<Object> object, Kind kind) {
        std::size_t index;
        if (free_.size() > kReuseDelay || (slots_.size() >= kMaxSlots && !free_.empty())) {
            index = free_.front();
            free_.pop_front();
        } else if (slots_.size() < kMaxSlots) {
            index = slots_.size();
            slots_.emplace_back();
            Publish();
        } else {
            return nullptr;
        }
        Place(index, std::move(object), kind);
        return HandleOf(index);
    }

    Slot* Find(const void* handle) { return table::FindSlot(slots_.data(), slots_.size(), handle); }

    void Remove(const void* handle) {
        Slot* slot = Find(handle);
        if (slot == nullptr || slot->object->stock) {
            return;
        }
        // Detach first: the destructor must not see a half-removed slot.
        std::unique_ptr<Object> object = std::move(slot->object);
        slot->kind = Kind::None;
        slot->generation = (slot->generation + 1) & kGenerationMask;
        if (slot->generation == 0) {
            slot->generation = 1;
        }
        free_.push_back(static_cast<std::size_t>(slot - slots_.data()));
    }

    HGDIOBJ HandleOf(std::size_t index) const {
        const Slot& slot = slots_[index];
        const std::uintptr_t value = (slot.generation << kGenerationShift) |
                                     (std::uintptr_t(index) << kKindBits) |
                                     static_cast<std::uintptr_t>(slot.kind);
        return reinterpret_cast<HGDIOBJ>(value);
    }

    std::size_t Size() const { return slots_.size(); }
    Slot& At(std::size_t index) { return slots_[index]; }

private:
    // Where the inline lookups find the slots.
    void Publish() {
        table::slots = slots_.data();
        table::size = slots_.size();
    }

    void Place(std::size_t index, std::unique_ptr<Object> object, Kind kind) {
        slots_[index].object = std::move(object);
        slots_[index].kind = kind;
    }

    void AddStockBrush(int index, COLORREF colour, bool hollow) {
        auto brush = std::make_unique<Brush>();
        brush->stock = true;
        brush->colour = colour;
        brush->hollow = hollow;
        Place(static_cast<std::size_t>(index) + 1, std::move(brush), Kind::Brush);
    }

    void AddStockPen(int index, COLORREF colour, bool visible) {
        auto pen = std::make_unique<Pen>();
        pen->stock = true;
        pen->colour = colour;
        pen->visible = visible;
        Place(static_cast<std::size_t>(index) + 1, std::move(pen), Kind::Pen);
    }

    std::vector<Slot> slots_;
    std::deque<std::size_t> free_;
};

Table& TheTable() {
    static Table table;
    return table;
}

}  // namespace

HGDIOBJ Register(std::unique_ptr<Object> object, Kind kind) {
    if (object == nullptr || kind == Kind::None) {
        return nullptr;
    }
    return TheTable().Add(std::move(object), kind);
}

namespace table {
Slot* slots = nullptr;
std::size_t size = 0;

Object* LookupMakingTable(const void* handle, Kind kind) {
    Slot* slot = TheTable().Find(handle);
    return slot != nullptr && slot->kind == kind ? slot->object.get() : nullptr;
}
}  // namespace table

Kind KindOf(const void* handle) {
    Slot* slot = TheTable().Find(handle);
    return slot != nullptr ? slot->kind : Kind::None;
}

void Destroy(const void* handle) {
    // Surfaces showing the bitmap in place need their copy while it lasts.
    Bitmap* bitmap = KindOf(handle) == Kind::Bitmap ? LookupBitmap(handle) : nullptr;
    if (bitmap != nullptr && !bitmap->stock) {
        ReleaseViewers(bitmap);
    }
    TheTable().Remove(handle);
}

HGDIOBJ StockObject(int index) {
    if (index < 0 || index >= kStockCount) {
        return nullptr;
    }
    return TheTable().HandleOf(static_cast<std::size_t>(index) + 1);
}

HBITMAP DefaultBitmap() { return static_cast<HBITMAP>(TheTable().HandleOf(kDefaultBitmapSlot)); }

void Hold(HGDIOBJ handle) {
    Slot* slot = TheTable().Find(handle);
    if (slot != nullptr) {
        ++slot->object->selectCount;
    }
}

void LetGo(HGDIOBJ handle) {
    Slot* slot = TheTable().Find(handle);
    if (slot == nullptr) {
        return;
    }
    Object& object = *slot->object;
    if (object.selectCount > 0) {
        --object.selectCount;
    }
    if (object.selectCount == 0 && object.deletePending) {
        Destroy(handle);
    }
}

std::size_t SlotCount() { return TheTable().Size(); }

HDC DcAt(std::size_t index, Dc** dc) {
    Slot& slot = TheTable().At(index);
    if (slot.object == nullptr || slot.kind != Kind::Dc) {
        return nullptr;
    }
    *dc = static_cast<Dc*>(slot.object.get());
    return static_cast<HDC>(TheTable().HandleOf(index));
}

}  // namespace gdi
}  // namespace platform
