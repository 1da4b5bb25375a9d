// Where each word of a pair step's particle comes from in a tile record, so
// that a transposed tile (one column per record word) can be read as the
// particles of consecutive lanes with one vector load per word.
#pragma once

#include <cstring>

#include "forcecore/host/lane_records.h"

namespace nbf {

// The widest tile record, in 4-byte words, that a transposed tile holds.
constexpr int kMaxRecordWords = 24;

template <class Term>
struct RecordWords {
  // Enumerators, not static members: constants with no storage, which the
  // per-instruction-set builds (-fno-weak) would otherwise copy.
  enum : int {
    kBody = word_count<typename Term::template Body<float>>(),
    kRecord = word_count<typename Term::Predictor>()
  };
  int word[kBody];  // record word of each body word, -1 where none matches
  bool direct;      // every body word is a plain copy of a record word
};

// Found by loading records whose words all differ and looking up each
// loaded value. Two probes with unrelated values (1, 2, 3, ... and an
// irregular sequence) keep a load that computes, say twice a field, from
// matching another field by chance. A term whose load computes anything, or
// a record too wide or not made of 16-byte units, gets `direct` false and is
// read record by record instead.
template <class Term>
RecordWords<Term> probe_record_words() {
  using Pred = typename Term::Predictor;
  using BodyF = typename Term::template Body<float>;
  constexpr int kRecord = RecordWords<Term>::kRecord;
  constexpr int kBody = RecordWords<Term>::kBody;
  RecordWords<Term> m{};
  m.direct = sizeof(Pred) % 16 == 0 && kRecord <= kMaxRecordWords;
  for (int w = 0; w < kBody; ++w) m.word[w] = -1;
  for (int probe = 0; probe < 2; ++probe) {
    float record_words[kRecord];
    for (int k = 0; k < kRecord; ++k)
      record_words[k] = probe == 0 ? 1.0f + k : 0.7071f + 1.6180f * static_cast<float>(k * k + 3);
    Pred rec;
    std::memcpy(&rec, record_words, sizeof rec);
    const BodyF b = Term::template load<float>(rec);
    float body_words[kBody];
    std::memcpy(body_words, &b, sizeof b);
    for (int w = 0; w < kBody; ++w) {
      int found = -1;
      for (int k = 0; k < kRecord; ++k)
        if (body_words[w] == record_words[k]) found = k;
      if (probe == 0) m.word[w] = found;
      if (found < 0 || found != m.word[w]) m.word[w] = -1;
      m.direct = m.direct && m.word[w] >= 0;
    }
  }
  return m;
}

template <class Term>
const RecordWords<Term>& record_words() {
  static const RecordWords<Term> map = probe_record_words<Term>();
  return map;
}

}  // namespace nbf
