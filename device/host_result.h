#pragma once

namespace velmocair {

// The result type of a host base class's member function, so that an
// override spells whatever result type the host framework declares for it.
template <class Result, class Class, class... Args>
Result member_result(Result (Class::*)(Args...));
template <class Result, class Class, class... Args>
Result member_result(Result (Class::*)(Args...) const);

template <auto Member>
using host_result = decltype(member_result(Member));

}  // namespace velmocair
