fn greeting() -> &'static str {
    "Hello from a Cargo project"
}

fn main() {
    println!("{}", greeting());
}

#[cfg(test)]
mod tests {
    #[test]
    fn greets() {
        assert_eq!(super::greeting(), "Hello from a Cargo project");
    }
}
