// tag!, email! and ref!: strings with their own literal forms.
//
// They share every string action and differ only in how they mold (a tag
// between angle brackets, an e-mail address bare, a reference after "@"),
// in the actions each refuses, and, for email!, in the `user` and `host`
// path elements.
#pragma once

namespace kez::tag {
void init();  // registers tag!
}  // namespace kez::tag

namespace kez::email {
void init();  // registers email!
}  // namespace kez::email

namespace kez::ref {
void init();  // registers ref!
}  // namespace kez::ref
