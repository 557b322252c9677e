// The masked edit, for numbers of a fixed width: its mask is a run of digit
// places ('0' required, '9' optional), led by '!' when blanks go before the
// digits rather than after them, and optionally followed by ";1;" or ";0;"
// and the blank character ("!999;1; " is three places, right-aligned, blank
// ' '). Whatever text it is given (by code or typed) is kept in that shape:
// its digits, at most one per place, filled up with the blank character.
#pragma once

#include <string>

#include "vcl/StdCtrls.h"

namespace vcl {

class TMaskEdit : public TEdit {
 public:
  explicit TMaskEdit(TComponent* owner);

  const std::string& EditMask() const { return editMask_; }
  // Throws std::invalid_argument for a mask of another shape.
  void SetEditMask(const std::string& mask);

  // `text` in the shape of the mask.
  std::string Fit(const std::string& text) const;

 protected:
  void TextChanged() override;

 private:
  std::string editMask_;
  int places_ = 0;
  bool blanksFirst_ = false;
  char blank_ = '_';
};

}  // namespace vcl
