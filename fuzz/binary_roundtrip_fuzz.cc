// Whatever plist::read() accepts, in any format, must write as binary and read
// back to an equal value; and where XML can carry it, the same through XML
// (dates lose their fraction of a second and the sign of a zero, every NaN
// becomes the one "nan").
// Documents may share sub-trees many times over ("billion laughs"), so every
// walk here is memoised on the shared objects to stay linear.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "plist/error.h"
#include "plist/format.h"
#include "plist/internal/binary_reader.h"
#include "plist/internal/binary_writer.h"
#include "plist/internal/xml_reader.h"
#include "plist/internal/xml_writer.h"

namespace zeph::plist {
namespace {

// Past this many nodes written out in full, XML output is not attempted.
constexpr double kMaxXmlNodes = 200000;

class Equal {
 public:
  bool operator()(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    const void* ia = a.sharedIdentity();
    const void* ib = b.sharedIdentity();
    if (ia == nullptr || ia == ib) return a == b;
    if (!proven_.insert({ia, ib}).second) return true;
    if (const Array* x = a.asArray()) {
      const Array* y = b.asArray();
      if (x->size() != y->size()) return false;
      for (std::size_t i = 0; i < x->size(); ++i) {
        if (!(*this)((*x)[i], (*y)[i])) return false;
      }
      return true;
    }
    if (const Dictionary* x = a.asDictionary()) {
      const Dictionary* y = b.asDictionary();
      if (x->size() != y->size()) return false;
      for (auto i = x->begin(), j = y->begin(); i != x->end(); ++i, ++j) {
        if (i->first != j->first || !(*this)(i->second, j->second)) return false;
      }
      return true;
    }
    return a == b;
  }

 private:
  // Pairs assumed equal while being compared, and those found equal; a
  // mismatch aborts the whole comparison, so the assumption is safe.
  std::set<std::pair<const void*, const void*>> proven_;
};

// Nodes in the value written out as a tree; shared sub-trees count each time.
class TreeSize {
 public:
  double operator()(const Value& v) {
    const void* id = v.sharedIdentity();
    if (auto it = seen_.find(id); id && it != seen_.end()) return it->second;
    double n = 1;
    if (const Array* a = v.asArray()) {
      for (const Value& x : *a) n += (*this)(x);
    } else if (const Dictionary* d = v.asDictionary()) {
      for (const auto& [k, x] : *d) n += 1 + (*this)(x);
    }
    if (id) seen_[id] = n;
    return n;
  }

 private:
  std::map<const void*, double> seen_;
};

// What an XML round trip keeps of `v`, following the readers' rules: whole
// seconds, one NaN, and a lone "CF$UID" member holding a 32-bit number is a UID.
class XmlView {
 public:
  Value operator()(const Value& v) {
    const void* id = v.sharedIdentity();
    if (auto it = done_.find(id); id && it != done_.end()) return it->second;
    Value out = convert(v);
    if (id) done_.emplace(id, out);
    return out;
  }

 private:
  Value convert(const Value& v) {
    // + 0.0: the date text has no sign of zero, so -0.0 s reads back as 0.0 s.
    if (const Date* d = v.asDate()) return Value(Date{std::floor(d->secondsSince2001) + 0.0});
    if (const double* r = v.asReal()) {
      return std::isnan(*r) ? Value::real(std::numeric_limits<double>::quiet_NaN()) : v;
    }
    if (const Array* a = v.asArray()) {
      Array out;
      out.reserve(a->size());
      for (const Value& x : *a) out.push_back((*this)(x));
      return Value(std::move(out));
    }
    if (const Dictionary* d = v.asDictionary()) {
      if (d->size() == 1 && d->begin()->first == "CF$UID") {
        const Value& n = d->begin()->second;
        if (std::optional<Integer> i = n.asInteger(); i && !i->negative && i->bits <= 0xFFFF'FFFFull) {
          return Value(Uid{i->bits});
        }
        if (const double* r = n.asReal(); r && *r >= 0 && *r <= 4294967295.0 && std::floor(*r) == *r) {
          return Value(Uid{static_cast<std::uint64_t>(*r)});
        }
      }
      std::vector<Dictionary::Member> members;
      for (const auto& [k, x] : *d) members.emplace_back(k, (*this)(x));
      return Value(Dictionary::fromMembers(std::move(members), DuplicateKeys::KeepFirst));
    }
    return v;
  }

  std::map<const void*, Value> done_;
};

}  // namespace
}  // namespace zeph::plist

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zeph::plist;
  Value v;
  try {
    v = read(std::span<const std::uint8_t>(data, size));
  } catch (const Error&) {
    return 0;
  }

  std::vector<std::uint8_t> binary;
  try {
    binary = writeBinary(v);
  } catch (const Error& e) {
    ZEPH_FUZZ_CHECK(false, e.what());  // what was read must be writable
  }
  Value again;
  try {
    again = readBinary(binary);
  } catch (const Error& e) {
    ZEPH_FUZZ_CHECK(false, e.what());
  }
  ZEPH_FUZZ_CHECK(looksBinary(binary), "our binary output must look binary");
  ZEPH_FUZZ_CHECK(Equal()(v, again), "binary round trip changed the value");
  ZEPH_FUZZ_CHECK(writeBinary(again) == binary, "binary output is not stable");

  if (TreeSize()(v) > kMaxXmlNodes) return 0;
  std::vector<std::uint8_t> xml;
  try {
    xml = writeXml(v);
  } catch (const Error&) {
    return 0;  // XML cannot carry every value (lone surrogates, far dates, depth)
  }
  Value fromXml;
  try {
    fromXml = readXml(xml);
  } catch (const Error& e) {
    ZEPH_FUZZ_CHECK(false, e.what());  // our own XML must read back
  }
  ZEPH_FUZZ_CHECK(Equal()(XmlView()(v), fromXml), "XML round trip changed the value");
  return 0;
}
