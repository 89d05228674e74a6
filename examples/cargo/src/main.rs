fn main() {
    println!("Hello from a Cargo project");
}
