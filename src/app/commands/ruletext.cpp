#include "ruletext.h"

#include <variant>

namespace app
{

namespace
{

constexpr std::string_view kTable = "[[answer]]\n";

} // namespace

std::string RuleText::text(const check::AnswerRule& rule)
{
    check::CheckFile file;
    file.answers.push_back(rule);
    const std::string whole = check::writeCheckFile(file);
    const std::size_t at = whole.find(kTable);
    return at == std::string::npos ? std::string() : whole.substr(at + kTable.size());
}

std::string RuleText::summary(const check::AnswerRule& rule, std::size_t index)
{
    std::string line = rule.name.empty() ? "answer " + std::to_string(index + 1) : rule.name;
    line += ":";
    const std::string lines = text(rule);
    std::size_t from = 0;
    while (from < lines.size()) {
        const std::size_t end = lines.find('\n', from);
        const std::string_view one =
            std::string_view(lines).substr(from, end == std::string::npos ? end : end - from);
        if (!one.starts_with("name = "))
            line += " " + std::string(one);
        from = end == std::string::npos ? lines.size() : end + 1;
    }
    return line;
}

base::Result<check::AnswerRule> RuleText::parse(std::string_view text)
{
    // The rule's lines start on line 2 of the text read.
    const std::string whole = std::string(kTable) + std::string(text);
    base::Result<check::CheckFile> read = check::parseCheckFile(whole, "rule", 0);
    if (!read)
        return read.error();
    check::CheckFile& file = *read;
    if (file.answers.size() != 1 || !file.steps.empty())
        return base::Error(base::Fault::BadInput, 0, "rule: give one rule: when = …, send = …");
    return file.answers.front();
}

} // namespace app
