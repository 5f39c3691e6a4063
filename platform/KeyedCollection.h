// The keyed collection shared by the archive layer and the catalogue: shared references in
// insertion order, each under a text key compared without regard to ASCII letter case.
#pragma once

#include "Error.h"
#include "Text.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessera {

template <class T>
class KeyedCollection {
public:
    using Item = std::shared_ptr<T>;

    void Add(Item item, const std::string& key)
    {
        auto [it, inserted] = index_.emplace(LowerAscii(key), items_.size());
        if (!inserted)
            throw TesseraError(ErrorKind::DuplicateKey, "Key is already associated with an element of this collection: " + key);
        items_.push_back(std::move(item));
    }

    // Fails on a key that no element has.
    const Item& Fetch(const std::string& key) const
    {
        auto it = index_.find(LowerAscii(key));
        if (it == index_.end())
            throw TesseraError(ErrorKind::KeyNotFound, "No element of this collection has the key: " + key);
        return items_[it->second];
    }

    bool Contains(const std::string& key) const { return index_.count(LowerAscii(key)) != 0; }
    std::size_t Count() const noexcept { return items_.size(); }
    bool Empty() const noexcept { return items_.empty(); }
    void Reserve(std::size_t n)
    {
        items_.reserve(n);
        index_.reserve(n);
    }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    const Item& operator[](std::size_t i) const { return items_.at(i); }

private:
    std::vector<Item> items_;
    std::unordered_map<std::string, std::size_t> index_;
};

} // namespace tessera
