#include "forms/handler_context.h"

#include <utility>

namespace Marlet::Forms {

namespace {

HandlerContext& innermost()
{
    static HandlerContext context;
    return context;
}

} // namespace

HandlerContext currentHandler()
{
    return innermost();
}

HandlerScope::HandlerScope(HandlerPolicy policy, QString handler)
    : m_outer(std::exchange(innermost(), HandlerContext{policy, std::move(handler)}))
{
}

HandlerScope::~HandlerScope()
{
    innermost() = std::move(m_outer);
}

} // namespace Marlet::Forms
