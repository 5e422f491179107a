#include "writeoutcome.h"

#include <algorithm>

namespace traffic
{

WriteOutcome writeOutcome(const RecordView& record)
{
    if (record.kind != RecordKind::Write)
        return WriteOutcome::None;
    if (record.facts.fact != RecordFact::Written)
        return WriteOutcome::Failed;
    return record.facts.written >= record.bytes.size() ? WriteOutcome::Whole
                                                       : WriteOutcome::Partial;
}

std::size_t writtenCount(const RecordView& record)
{
    if (record.kind != RecordKind::Write || record.facts.fact != RecordFact::Written)
        return 0;
    return std::min(record.facts.written, record.bytes.size());
}

} // namespace traffic
