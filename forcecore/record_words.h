// Where each word of a pair step's particle comes from in a tile record, so
// that a transposed tile (one column per record word) can be read as the
// particles of consecutive lanes with one vector load per word.
#pragma once

#include <cstring>

#include "forcecore/lane_records.h"

namespace nbf {

// The widest tile record, in 4-byte words, that a transposed tile holds.
inline constexpr int kMaxRecordWords = 24;

template <class Term>
struct RecordWords {
  static constexpr int kBody = word_count<typename Term::template Body<float>>();
  static constexpr int kRecord = word_count<typename Term::Predictor>();
  int word[kBody];  // record word of each body word, -1 where none matches
  bool direct;      // every body word is a plain copy of a record word
};

// Found by loading a record whose words all differ (1, 2, 3, ...) and
// looking up each loaded value. A term whose load computes anything, or a
// record too wide or not made of 16-byte units, gets `direct` false and is
// read record by record instead.
template <class Term>
RecordWords<Term> probe_record_words() {
  using Pred = typename Term::Predictor;
  using BodyF = typename Term::template Body<float>;
  RecordWords<Term> m{};
  m.direct = sizeof(Pred) % 16 == 0 && RecordWords<Term>::kRecord <= kMaxRecordWords;
  float probe_words[RecordWords<Term>::kRecord];
  for (int k = 0; k < RecordWords<Term>::kRecord; ++k) probe_words[k] = 1.0f + k;
  Pred probe;
  std::memcpy(&probe, probe_words, sizeof probe);
  const BodyF b = Term::template load<float>(probe);
  float body_words[RecordWords<Term>::kBody];
  std::memcpy(body_words, &b, sizeof b);
  for (int w = 0; w < RecordWords<Term>::kBody; ++w) {
    m.word[w] = -1;
    for (int k = 0; k < RecordWords<Term>::kRecord; ++k)
      if (body_words[w] == probe_words[k]) m.word[w] = k;
    m.direct = m.direct && m.word[w] >= 0;
  }
  return m;
}

template <class Term>
const RecordWords<Term>& record_words() {
  static const RecordWords<Term> map = probe_record_words<Term>();
  return map;
}

}  // namespace nbf
